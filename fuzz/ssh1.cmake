# SSH-1 client: the whole connection (login and data) fed with what a server
# may send, and the protocol-1 private key file reader fed with any bytes.
quenlor_fuzzer(ssh1_session_fuzzer ${CMAKE_CURRENT_LIST_DIR}/ssh1_session_fuzzer.cpp
  LIBS quenlor_ssh quenlor_net quenlor_console quenlor_config quenlor_platform)
quenlor_fuzzer(ssh1_keyfile_fuzzer ${CMAKE_CURRENT_LIST_DIR}/ssh1_keyfile_fuzzer.cpp
  LIBS quenlor_ssh)
quenlor_allow_legacy_crypto(${CMAKE_CURRENT_LIST_DIR}/ssh1_session_fuzzer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ssh1_keyfile_fuzzer.cpp)
