# The engine's layers, module <- player <- audio, are one library each, and each library sees
# only its own headers and those of the layers below it. Every layer gets an include root of its
# own in the build tree, holding links to its folder and to the folders below it, so that an
# include against the direction (module/ including "player/..." or "audio/...", player/ including
# "audio/...") finds no file and does not build.
#
#   brom_layer(NAME FOLDER BELOW...)   e.g. brom_layer(brom_player player module)
function(brom_layer name folder)
  set(root ${PROJECT_BINARY_DIR}/layers/${folder})
  foreach(dir ${folder} ${ARGN})
    if(NOT EXISTS ${root}/${dir})
      file(MAKE_DIRECTORY ${root})
      file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${dir} ${root}/${dir} SYMBOLIC)
    endif()
  endforeach()
  add_library(${name} STATIC)
  target_include_directories(${name} PUBLIC ${root})
endfunction()
