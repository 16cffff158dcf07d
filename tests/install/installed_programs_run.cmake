# cmake -DBUILD_DIR=... -DPREFIX=... -DVERSION=... -P installed_programs_run.cmake
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX}
                RESULT_VARIABLE status OUTPUT_QUIET)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cmake --install ${BUILD_DIR} --prefix ${PREFIX} failed: ${status}")
endif()

foreach(installed bin/scene-sampler bin/scene-view share/scene-sampler/docs/protocol.md
        share/scene-sampler/docs/scene-format.md share/scene-sampler/docs/schema/snapshot.schema.json
        share/scene-sampler/examples/scenes/demo.json share/scene-sampler/validate-lines)
  if(NOT EXISTS ${PREFIX}/${installed})
    message(FATAL_ERROR "not installed: ${installed}")
  endif()
endforeach()

execute_process(COMMAND ${PREFIX}/bin/scene-sampler --version
                OUTPUT_VARIABLE version RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR NOT version STREQUAL "scene-sampler ${VERSION}\n")
  message(FATAL_ERROR "installed --version: status ${status}, printed \"${version}\"")
endif()

execute_process(COMMAND ${PREFIX}/bin/scene-sampler --once --scene ${PREFIX}/share/scene-sampler/examples/scenes/demo.json
                INPUT_FILE /dev/null OUTPUT_VARIABLE line ERROR_VARIABLE errors RESULT_VARIABLE status)
string(JSON ready ERROR_VARIABLE notJSON GET "${line}" status)
string(JSON windows ERROR_VARIABLE noWindows LENGTH "${line}" windows)
if(NOT status EQUAL 0 OR NOT ready STREQUAL "ready" OR windows LESS 1 OR NOT errors STREQUAL "")
  message(FATAL_ERROR "installed --once: status ${status}, line \"${line}\", errors \"${errors}\"")
endif()
file(REMOVE_RECURSE ${PREFIX})
message(STATUS "installed into ${PREFIX}: scene-sampler ${VERSION}, one snapshot of the demo scene")
