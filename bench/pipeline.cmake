add_vernalo_bench(bench_pipeline SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_pipeline.cpp)
