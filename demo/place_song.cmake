# Puts the demo's song next to brom-demo: the composed song when the tree has it, otherwise a
# freshly written stand-in. Runs on every build, so a song that lands later replaces the stand-in.
#   cmake -DSONG=assets/brom-boogie.xm -DSTANDIN=brom-make-standin-song -DOUT=brom-boogie.xm -P place_song.cmake
if(EXISTS "${SONG}")
  file(COPY_FILE "${SONG}" "${OUT}" ONLY_IF_DIFFERENT)
else()
  execute_process(COMMAND "${STANDIN}" "${OUT}" RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "cannot write the stand-in song ${OUT}")
  endif()
endif()
