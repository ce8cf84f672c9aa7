# Keystroke latency of Quenlor and Debian's ssh against the legacy sshd of
# tests/peers, idle and while another session floods; a script, run by hand:
#   ninja latency_bench  (peers started first).
if(TARGET quenlor)
  add_custom_target(latency_bench
    COMMAND /usr/bin/python3 ${CMAKE_CURRENT_LIST_DIR}/latency_bench.py $<TARGET_FILE:quenlor>
    DEPENDS quenlor
    USES_TERMINAL)
endif()
