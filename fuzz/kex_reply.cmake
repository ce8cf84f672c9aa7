# The key exchange replies of each method family, parsed and checked by the
# client: Diffie-Hellman (fixed groups, group exchange) and elliptic curves
# (NIST curves, X25519).
quenlor_fuzzer(kex_dh_reply_fuzzer ${CMAKE_CURRENT_LIST_DIR}/kex_dh_reply_fuzzer.cpp LIBS quenlor_ssh)
quenlor_fuzzer(kex_ecdh_reply_fuzzer ${CMAKE_CURRENT_LIST_DIR}/kex_ecdh_reply_fuzzer.cpp
               LIBS quenlor_ssh)
