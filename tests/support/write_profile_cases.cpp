// Writes the left/right modules of tests/support/profile_cases.h into a folder, for comparing
// players on them (tools/compare-profiles).
//
//     write-profile-cases OUT_DIR
#include <cstdio>
#include <string>

#include "tests/support/profile_cases.h"

namespace {

bool writeCase(const std::string& folder, const ProfileCase& c) {
    const std::string path = folder + "/" + c.name + "." + c.extension;
    FILE* file = fopen(path.c_str(), "wb");
    if (!file) return false;
    const bool written = fwrite(c.bytes.data(), 1, c.bytes.size(), file) == c.bytes.size();
    return fclose(file) == 0 && written;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fputs("usage: write-profile-cases OUT_DIR\n", stderr);
        return 2;
    }
    for (const auto& cases : {ft2Cases(), protrackerCases()}) {
        for (const ProfileCase& c : cases) {
            if (!writeCase(argv[1], c)) {
                fprintf(stderr, "write-profile-cases: cannot write %s in %s\n", c.name.c_str(),
                        argv[1]);
                return 1;
            }
        }
    }
    return 0;
}
