# Compiles client.cc against the public header and the shared library only,
# runs it with a private device root and compares its output line for line.
separate_arguments(extra UNIX_COMMAND "${EXTRA_FLAGS}")
set(program ${WORK_DIR}/client)
execute_process(
  COMMAND ${CXX} ${extra} -I ${INCLUDE_DIR} ${SOURCE}
          -L ${LIB_DIR} -lmms -o ${program}
  RESULT_VARIABLE rc ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "client.cc did not build:\n${err}")
endif()

file(REMOVE_RECURSE ${WORK_DIR}/device)
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env
          LD_LIBRARY_PATH=${LIB_DIR} MMS_DEVICE_ROOT=${WORK_DIR}/device
          ${program}
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "client exited with ${rc}:\n${out}\n${err}")
endif()

file(READ ${EXPECTED} expected)
if(NOT out STREQUAL expected)
  message(FATAL_ERROR "client printed:\n${out}\nexpected:\n${expected}")
endif()
