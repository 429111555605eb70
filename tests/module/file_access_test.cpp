#include "module/file_access.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

int opens = 0;
void* countingOpen(const char* path) {
    ++opens;
    return stdFileOpen(path);
}

std::string writeTempFile(const std::string& contents) {
    std::string path = testing::TempDir() + "file_access_test.bin";
    FILE* f = fopen(path.c_str(), "wb");
    fwrite(contents.data(), 1, contents.size(), f);
    fclose(f);
    return path;
}

}  // namespace

TEST(FileCallbacks, PartialSetClearsTheRegisteredOne) {
    useStandardFiles();
    ASSERT_EQ(fileCallbacksComplete(), 1);
    setFileCallbacks(stdFileOpen, stdFileClose, stdFileRead, nullptr, stdFileTell);
    EXPECT_EQ(fileCallbacksComplete(), 0);
    EXPECT_EQ(fileCallbacks.open, nullptr);
    EXPECT_EQ(fileCallbacks.tell, nullptr);
    // With no set registered nothing can be opened.
    EXPECT_EQ(streamOpen("anything"), nullptr);
}

TEST(FileCallbacks, NullStreamCallsNothing) {
    setFileCallbacks(countingOpen, stdFileClose, stdFileRead, stdFileSeek, stdFileTell);
    char buffer[4];
    EXPECT_EQ(streamRead(buffer, 4, nullptr), 0);
    EXPECT_EQ(streamSeek(nullptr, 10, STREAM_SEEK_SET), 0);
    EXPECT_EQ(streamTell(nullptr), 0);
    streamClose(nullptr);
    EXPECT_EQ(opens, 0);
}

TEST(FileCallbacks, StandardFilesReadSeekAndTell) {
    useStandardFiles();
    std::string path = writeTempFile("0123456789");
    EXPECT_EQ(streamOpen((path + ".missing").c_str()), nullptr);
    ModuleStream* stream = streamOpen(path.c_str());
    ASSERT_NE(stream, nullptr);
    char buffer[16] = {};
    EXPECT_EQ(streamRead(buffer, 3, stream), 3);
    EXPECT_EQ(std::string(buffer, 3), "012");
    streamSeek(stream, 4, STREAM_SEEK_CUR);
    EXPECT_EQ(streamTell(stream), 7);
    EXPECT_EQ(streamRead(buffer, 16, stream), 3);  // short read at the end
    EXPECT_EQ(streamRead(buffer, 16, stream), 0);
    streamSeek(stream, 1, STREAM_SEEK_SET);
    EXPECT_EQ(streamRead(buffer, 1, stream), 1);
    EXPECT_EQ(buffer[0], '1');
    streamClose(stream);
}

TEST(FileCallbacks, MemoryFilesBehaveLikeStandardFiles) {
    useMemoryFiles();
    std::vector<uint8_t> bytes = {10, 11, 12, 13, 14};
    char path[64];
    memoryModulePath(path, sizeof path, bytes.data(), bytes.size());
    ModuleStream* stream = streamOpen(path);
    ASSERT_NE(stream, nullptr);
    uint8_t buffer[8] = {};
    EXPECT_EQ(streamRead(buffer, 2, stream), 2);
    EXPECT_EQ(buffer[1], 11);
    streamSeek(stream, 2, STREAM_SEEK_CUR);
    EXPECT_EQ(streamTell(stream), 4);
    EXPECT_EQ(streamRead(buffer, 8, stream), 1);
    EXPECT_EQ(buffer[0], 14);
    // Beyond the end: the seek is allowed, reads give nothing.
    streamSeek(stream, 100, STREAM_SEEK_SET);
    EXPECT_EQ(streamRead(buffer, 8, stream), 0);
    streamClose(stream);
    EXPECT_EQ(streamOpen("song.xm"), nullptr);  // not a memory name
}
