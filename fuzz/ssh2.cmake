# SSH-2 client protocol: key exchange, authentication answers and the
# session channel, fed with what a server may send.
quenlor_fuzzer(ssh2_fuzzer ${CMAKE_CURRENT_LIST_DIR}/ssh2_fuzzer.cpp LIBS quenlor_ssh)
target_compile_definitions(ssh2_fuzzer PRIVATE QUENLOR_TEST_DATA="${CMAKE_SOURCE_DIR}/tests/data")
