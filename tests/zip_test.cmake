# Builds the Windows ZIP with CPack and checks it: one top folder holding
# aifconv.exe, README.md and aifconv.txt; the program needs no DLL of the
# compiler's runtime; the text manual page is plain text; and the packaged
# program converts a sample file.
# Variables: BUILD_DIR, SOURCE_DIR, EMULATOR (may be empty), OBJDUMP, WORK_DIR.
file(REMOVE_RECURSE "${WORK_DIR}")
execute_process(COMMAND cpack -G ZIP --config "${BUILD_DIR}/CPackConfig.cmake" -B "${WORK_DIR}"
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cpack failed: ${out}")
endif()
file(GLOB zips "${WORK_DIR}/aifconv-*.zip")
list(LENGTH zips count)
if(NOT count EQUAL 1)
  message(FATAL_ERROR "expected one .zip in ${WORK_DIR}, found ${count}")
endif()
get_filename_component(top "${zips}" NAME)
string(REGEX REPLACE "\\.zip$" "" top "${top}")
file(MAKE_DIRECTORY "${WORK_DIR}/x")
execute_process(COMMAND "${CMAKE_COMMAND}" -E tar xf "${zips}" WORKING_DIRECTORY "${WORK_DIR}/x"
                RESULT_VARIABLE status)
file(GLOB_RECURSE listing RELATIVE "${WORK_DIR}/x" "${WORK_DIR}/x/*")
list(SORT listing)
set(expected "${top}/README.md" "${top}/aifconv.exe" "${top}/aifconv.txt")
if(NOT status EQUAL 0 OR NOT listing STREQUAL expected)
  message(FATAL_ERROR "the zip holds '${listing}', expected '${expected}'")
endif()
set(dir "${WORK_DIR}/x/${top}")

# Static: no DLL of the compiler's runtime is imported (libstdc++-6.dll,
# libgcc_s_seh-1.dll, libwinpthread-1.dll: Windows' own DLLs have no "lib").
if(OBJDUMP)
  execute_process(COMMAND "${OBJDUMP}" -p "${dir}/aifconv.exe" OUTPUT_VARIABLE headers RESULT_VARIABLE status)
  string(REGEX MATCHALL "DLL Name: [^\n]+" dlls "${headers}")
  if(NOT status EQUAL 0 OR NOT dlls)
    message(FATAL_ERROR "cannot read the imports of aifconv.exe")
  endif()
  foreach(dll ${dlls})
    string(TOLOWER "${dll}" dll)
    if(dll MATCHES "^dll name: lib")
      message(FATAL_ERROR "aifconv.exe needs a DLL of the compiler's runtime: ${dll}")
    endif()
  endforeach()
endif()

# The manual page as text: its sections, with no backspace or escape left.
file(READ "${dir}/aifconv.txt" page)
foreach(heading "NAME" "SYNOPSIS" "DESCRIPTION" "EXIT STATUS")
  if(NOT page MATCHES "\n${heading}\n")
    message(FATAL_ERROR "aifconv.txt has no ${heading} section")
  endif()
endforeach()
string(ASCII 8 backspace)
string(ASCII 27 escape)
if(page MATCHES "[${backspace}${escape}]")
  message(FATAL_ERROR "aifconv.txt holds terminal control characters")
endif()

# The packaged program on a sample file.
execute_process(COMMAND ${EMULATOR} "${dir}/aifconv.exe" "${SOURCE_DIR}/examples/tone-sowt.aifc"
                        "${WORK_DIR}/tone.wav"
                RESULT_VARIABLE status ERROR_VARIABLE err)
if(NOT status EQUAL 0 OR NOT err STREQUAL "")
  message(FATAL_ERROR "packaged aifconv.exe failed: status ${status}, stderr '${err}'")
endif()
file(SIZE "${WORK_DIR}/tone.wav" size)
if(NOT size EQUAL 4140)  # 44-byte header + 2048 mono samples
  message(FATAL_ERROR "tone.wav has ${size} bytes, expected 4140")
endif()
file(REMOVE_RECURSE "${WORK_DIR}")
