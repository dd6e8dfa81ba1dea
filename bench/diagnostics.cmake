add_vernalo_bench(bench_diagnostics SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_diagnostics.cpp)
