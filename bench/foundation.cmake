add_vernalo_bench(bench_foundation SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_foundation.cpp)
