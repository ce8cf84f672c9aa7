# SSH-2 session throughput against the loopback openssh-server, next to the
# ssh client and raw 3des-cbc.
quenlor_benchmark(ssh2_session_bench ${CMAKE_CURRENT_LIST_DIR}/ssh2_session_bench.cpp
  LIBS quenlor_ssh)
