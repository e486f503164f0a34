# Fails when a rebuilt loader differs from its committed image.
foreach(name gba-loader.bin gb-loader.bin)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${BUILT}/${name} ${COMMITTED}/${name}
                  RESULT_VARIABLE differs)
  if(differs)
    message(FATAL_ERROR "${name}: the rebuilt loader differs from loaders/built/${name} "
                        "(build the target loaders-update and commit the result if the change is meant)")
  endif()
  message(STATUS "${name}: rebuilt bytes equal the committed ones")
endforeach()
