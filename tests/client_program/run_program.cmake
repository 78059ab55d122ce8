# Compiles a client program (SOURCE, or README's first ```cpp block) against
# the public header and the shared library only, runs it with a private
# device root, and checks what it prints: line for line against EXPECTED,
# or as the README says its example prints.
if(DEFINED README)
  file(READ ${README} readme)
  string(FIND "${readme}" "```cpp\n" start)
  if(start EQUAL -1)
    message(FATAL_ERROR "README.md has no ```cpp block")
  endif()
  math(EXPR start "${start} + 7")
  string(SUBSTRING "${readme}" ${start} -1 rest)
  string(FIND "${rest}" "```" end)
  string(SUBSTRING "${rest}" 0 ${end} example)
  set(SOURCE ${WORK_DIR}/${NAME}.cc)
  file(WRITE ${SOURCE} "${example}")
endif()

separate_arguments(extra UNIX_COMMAND "${EXTRA_FLAGS}")
set(program ${WORK_DIR}/${NAME})
execute_process(
  COMMAND ${CXX} ${extra} -I ${INCLUDE_DIR} ${SOURCE}
          -L ${LIB_DIR} -lmms -o ${program}
  RESULT_VARIABLE rc ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${NAME} did not build:\n${err}")
endif()

file(REMOVE_RECURSE ${WORK_DIR}/${NAME}_device)
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env
          LD_LIBRARY_PATH=${LIB_DIR} MMS_DEVICE_ROOT=${WORK_DIR}/${NAME}_device
          ${program}
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${NAME} exited with ${rc}:\n${out}\n${err}")
endif()

if(DEFINED EXPECTED)
  file(READ ${EXPECTED} expected)
  if(NOT out STREQUAL expected)
    message(FATAL_ERROR "${NAME} printed:\n${out}\nexpected:\n${expected}")
  endif()
elseif(NOT out MATCHES "saved .*Windows.Messaging.*\nto \\+8613800000001, 2 parts\n")
  message(FATAL_ERROR "${NAME} printed:\n${out}")
endif()
