quenlor_benchmark(ssh_packet_bench ${CMAKE_CURRENT_LIST_DIR}/ssh_packet_bench.cpp LIBS quenlor_ssh)
