# Whole-path session figures (throughput of a 20 MB `cat` over telnet and,
# next to `ssh -tt`, over SSH-2; memory of 12 sessions), with the program in
# tmux against the peers; a script, run by hand:  ninja session_bench
# (peers started first).
if(TARGET quenlor)
  add_custom_target(session_bench
    COMMAND /usr/bin/python3 ${CMAKE_CURRENT_LIST_DIR}/session_bench.py $<TARGET_FILE:quenlor>
    DEPENDS quenlor
    USES_TERMINAL)
endif()
