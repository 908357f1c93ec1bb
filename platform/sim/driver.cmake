# The simulated adapter driver and firmware: the TSLY_ WMI classes other
# than the register access, and the HWRM pass-through methods.
target_sources(vrex_platform PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/sim_driver_wmi.cc
  ${CMAKE_CURRENT_LIST_DIR}/sim_firmware_nvm.cc
)
# The firmware checks the packages it installs with the package code.
target_link_libraries(vrex_platform PRIVATE vrex_package)
