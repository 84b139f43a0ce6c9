# The WHM client's own costs: reading a 10,000-account answer (against the former JSON
# reading when its header is at hand), kept-alive against new connections, lists per second.
set(_whmkit ${PROJECT_SOURCE_DIR}/tests/server/support)
add_executable(bench_whm_client ${CMAKE_CURRENT_LIST_DIR}/bench_whm_client.cpp
  ${_whmkit}/selfsignedcertificate.cpp ${_whmkit}/fakewhm.cpp)
target_include_directories(bench_whm_client PRIVATE ${_whmkit})
target_link_libraries(bench_whm_client PRIVATE corvala_server)
find_package(nlohmann_json 3.10 QUIET)
if(nlohmann_json_FOUND)
  target_link_libraries(bench_whm_client PRIVATE nlohmann_json::nlohmann_json)
  target_compile_definitions(bench_whm_client PRIVATE CORVALA_BENCH_NLOHMANN)
endif()
