# Installs the build into a temporary DESTDIR, then converts a sample file
# with the installed binary and checks the manual page is in place.
# Variables: BUILD_DIR, SOURCE_DIR, WORK_DIR.
file(REMOVE_RECURSE "${WORK_DIR}")
set(ENV{DESTDIR} "${WORK_DIR}/root")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix /usr/local
                RESULT_VARIABLE status OUTPUT_QUIET)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${status}")
endif()
set(bin "${WORK_DIR}/root/usr/local/bin/aifconv")
set(man "${WORK_DIR}/root/usr/local/share/man/man1/aifconv.1")
foreach(path "${bin}" "${man}")
  if(NOT EXISTS "${path}")
    message(FATAL_ERROR "not installed: ${path}")
  endif()
endforeach()
execute_process(COMMAND "${bin}" "${SOURCE_DIR}/examples/tone-sowt.aifc" "${WORK_DIR}/tone.wav"
                RESULT_VARIABLE status ERROR_VARIABLE err)
if(NOT status EQUAL 0 OR NOT err STREQUAL "")
  message(FATAL_ERROR "installed aifconv failed: status ${status}, stderr '${err}'")
endif()
file(SIZE "${WORK_DIR}/tone.wav" size)
if(NOT size EQUAL 4140)  # 44-byte header + 2048 mono samples
  message(FATAL_ERROR "tone.wav has ${size} bytes, expected 4140")
endif()
file(READ "${WORK_DIR}/tone.wav" head LIMIT 4 HEX)
if(NOT head STREQUAL "52494646")  # "RIFF"
  message(FATAL_ERROR "tone.wav does not start with RIFF")
endif()
file(REMOVE_RECURSE "${WORK_DIR}")
