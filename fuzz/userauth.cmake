# What the SSH-2 login parses from others: OpenSSH private key files,
# keyboard-interactive requests and EXT_INFO from the server, and the
# agent's replies.
quenlor_fuzzer(openssh_key_fuzzer ${CMAKE_CURRENT_LIST_DIR}/openssh_key_fuzzer.cpp LIBS quenlor_ssh)
quenlor_fuzzer(kbdint_fuzzer ${CMAKE_CURRENT_LIST_DIR}/kbdint_fuzzer.cpp LIBS quenlor_ssh)
quenlor_fuzzer(agent_reply_fuzzer ${CMAKE_CURRENT_LIST_DIR}/agent_reply_fuzzer.cpp LIBS quenlor_ssh)
