add_vernalo_bench(bench_recording SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_recording.cpp)
