# Builds the client example of README.md exactly as the README shows it
# (the first ```cpp block) against the public header and the shared
# library, and runs it on a private device root: the README cannot rot.
file(READ ${README} readme)
string(FIND "${readme}" "```cpp\n" start)
if(start EQUAL -1)
  message(FATAL_ERROR "README.md has no ```cpp block")
endif()
math(EXPR start "${start} + 7")
string(SUBSTRING "${readme}" ${start} -1 rest)
string(FIND "${rest}" "```" end)
string(SUBSTRING "${rest}" 0 ${end} example)
file(WRITE ${WORK_DIR}/readme_client.cc "${example}")

separate_arguments(extra UNIX_COMMAND "${EXTRA_FLAGS}")
execute_process(
  COMMAND ${CXX} ${extra} -I ${INCLUDE_DIR} ${WORK_DIR}/readme_client.cc
          -L ${LIB_DIR} -lmms -o ${WORK_DIR}/readme_client
  RESULT_VARIABLE rc ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the README example did not build:\n${err}")
endif()
file(REMOVE_RECURSE ${WORK_DIR}/readme_device)
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env
          LD_LIBRARY_PATH=${LIB_DIR} MMS_DEVICE_ROOT=${WORK_DIR}/readme_device
          ${WORK_DIR}/readme_client
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the README example exited with ${rc}:\n${out}\n${err}")
endif()
if(NOT out MATCHES "saved .*Windows.Messaging.*\nto \\+8613800000001, 2 parts\n")
  message(FATAL_ERROR "the README example printed:\n${out}")
endif()
