# Makes the zip a Windows user unpacks: a folder Tidewell/ holding tidewell.exe, README.txt and
# LICENSE.txt. The texts get Windows line ends, and the read-me a UTF-8 byte-order mark so that
# Notepad on every supported Windows shows its Chinese half.
#   cmake -DEXE=... -DREADME=... -DLICENSE=... -DSTAGE=<folder> -DZIP=<file> -P package.cmake
foreach(var EXE README LICENSE STAGE ZIP)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "package.cmake: ${var} is not set")
  endif()
endforeach()

function(tw_windows_text source target prefix)
  file(READ ${source} text)
  string(REPLACE "\r\n" "\n" text "${text}")
  string(REPLACE "\n" "\r\n" text "${text}")
  file(WRITE ${target} "${prefix}${text}")
endfunction()

file(REMOVE_RECURSE ${STAGE})
file(MAKE_DIRECTORY ${STAGE}/Tidewell)
file(COPY_FILE ${EXE} ${STAGE}/Tidewell/tidewell.exe)
string(ASCII 239 187 191 bom)
tw_windows_text(${README} ${STAGE}/Tidewell/README.txt "${bom}")
tw_windows_text(${LICENSE} ${STAGE}/Tidewell/LICENSE.txt "")
file(REMOVE ${ZIP})
execute_process(COMMAND ${CMAKE_COMMAND} -E tar cf ${ZIP} --format=zip Tidewell
                WORKING_DIRECTORY ${STAGE} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "package.cmake: could not write ${ZIP}")
endif()
