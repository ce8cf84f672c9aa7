# SSH packet layer: arbitrary server bytes, plaintext and keyed.
quenlor_fuzzer(ssh_packet_fuzzer ${CMAKE_CURRENT_LIST_DIR}/ssh_packet_fuzzer.cpp LIBS quenlor_ssh)
# Coverage feedback needs the library itself instrumented, not only the
# fuzzer's entry point.
target_compile_options(quenlor_ssh PRIVATE -fsanitize=fuzzer-no-link)
