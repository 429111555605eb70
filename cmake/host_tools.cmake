# A cross build still runs two generators while it builds: the art generator and the stand-in
# song writer of demo/. They are built for this machine by a build of their own inside the cross
# build's folder (host-tools/) and known here by their usual target names.
include(ExternalProject)

set(BROM_HOST_TOOLS_DIR ${PROJECT_BINARY_DIR}/host-tools)
set(host_art ${BROM_HOST_TOOLS_DIR}/demo/brom-make-art${CMAKE_HOST_EXECUTABLE_SUFFIX})
set(host_song ${BROM_HOST_TOOLS_DIR}/demo/brom-make-standin-song${CMAKE_HOST_EXECUTABLE_SUFFIX})

# The host build takes the compiler from the environment, never the cross one, and always gets
# a say: it rebuilds the tools only when their sources change.
ExternalProject_Add(brom_host_tools
  SOURCE_DIR ${PROJECT_SOURCE_DIR}
  BINARY_DIR ${BROM_HOST_TOOLS_DIR}
  CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release -DBROM_BUILD_TESTS=OFF -DBROM_WERROR=${BROM_WERROR}
  BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> --target brom-make-art brom-make-standin-song
  BUILD_BYPRODUCTS ${host_art} ${host_song}
  INSTALL_COMMAND ""
  BUILD_ALWAYS ON
  USES_TERMINAL_BUILD ON)

add_executable(brom-make-art IMPORTED GLOBAL)
set_target_properties(brom-make-art PROPERTIES IMPORTED_LOCATION ${host_art})
add_dependencies(brom-make-art brom_host_tools)
add_executable(brom-make-standin-song IMPORTED GLOBAL)
set_target_properties(brom-make-standin-song PROPERTIES IMPORTED_LOCATION ${host_song})
add_dependencies(brom-make-standin-song brom_host_tools)
