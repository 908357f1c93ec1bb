# Container, properties, package record, item images, file search.
target_sources(vrex_package PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/container.cc
  ${CMAKE_CURRENT_LIST_DIR}/properties.cc
  ${CMAKE_CURRENT_LIST_DIR}/item.cc
  ${CMAKE_CURRENT_LIST_DIR}/vpd.cc
  ${CMAKE_CURRENT_LIST_DIR}/find_files.cc
  ${CMAKE_CURRENT_LIST_DIR}/package_memory.cc)
