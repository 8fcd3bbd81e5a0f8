target_sources(quorvan_core PRIVATE ${CMAKE_CURRENT_LIST_DIR}/hash.cpp ${CMAKE_CURRENT_LIST_DIR}/csplist.cpp)
target_link_libraries(quorvan_core PUBLIC advapi32)
target_sources(quorvan_core PRIVATE ${CMAKE_CURRENT_LIST_DIR}/certs.cpp ${CMAKE_CURRENT_LIST_DIR}/p7sign.cpp)
target_link_libraries(quorvan_core PUBLIC crypt32)
