# Resident memory over a simulated 3-hour recording (the rig is defined in latency.cmake).
add_vernalo_bench(bench_memory SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_memory.cpp
                  LIBRARIES vernalo_bench_recording_rig)
