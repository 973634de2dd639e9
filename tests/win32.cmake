# The tests of the Windows build (cross-built with mingw-w64), run under Wine
# through CMAKE_CROSSCOMPILING_EMULATOR. The engine's tests that work on
# image files and in memory are built as they are; the tests that need
# Linux (loop devices, mounts, the file-system tools, the ext, thorough and
# report parts) stay in the Linux build. Each program is one CTest test:
# Wine starts once per program, not once per case.
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

add_library(vallora_test_support STATIC ${PROJECT_SOURCE_DIR}/fixtures/CTempDir.cpp)
target_include_directories(vallora_test_support PUBLIC ${PROJECT_SOURCE_DIR}/fixtures)
target_link_libraries(vallora_test_support PUBLIC vallora_engine)

# Wine keeps its Windows folder in the build tree (made on the first start),
# and its own messages out of the test logs.
set(VALLORA_WINE_ENVIRONMENT "WINEPREFIX=${CMAKE_BINARY_DIR}/wine-prefix" "WINEDEBUG=-all")

# The folder is made once, before the tests start Wine side by side.
add_test(NAME wine_prefix COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} wineboot --init)
set_tests_properties(wine_prefix PROPERTIES ENVIRONMENT "${VALLORA_WINE_ENVIRONMENT}"
    FIXTURES_SETUP wine)

function(vallora_add_wine_test name)
    add_executable(${name} ${ARGN})
    target_link_libraries(${name} PRIVATE vallora_engine vallora_test_support gtest_main)
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "${VALLORA_WINE_ENVIRONMENT}"
        FIXTURES_REQUIRED wine)
endfunction()

vallora_add_wine_test(test_platform
    platform/ByteOrderTest.cpp
    platform/ByteViewTest.cpp
    platform/JobQueueTest.cpp
    platform/BootSectorProbeTest.cpp
    platform/win32/WinDiskQueryTest.cpp
    platform/win32/WinDeviceTest.cpp
    scan/win32/RecoveredFileWinTest.cpp)
target_include_directories(test_platform PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/platform/win32)

vallora_add_wine_test(test_ntfs
    ntfs/CNtfsTestImage.cpp
    ntfs/NtfsVolumeTest.cpp
    ntfs/NtfsRecordsTest.cpp
    ntfs/NtfsAttributesTest.cpp
    ntfs/NtfsAccessTest.cpp
    ntfs/NtfsFragmentedTest.cpp)

vallora_add_wine_test(test_volume
    volume/CHandmadeFat32.cpp
    volume/Fat32VolumeAccessTest.cpp)

vallora_add_wine_test(test_scan
    scan/CarvingTest.cpp
    scan/ScannerTest.cpp
    scan/ProgressMeterTest.cpp)

vallora_add_wine_test(test_cli cli/CliOptionsTest.cpp cli/TerminalFrontEndTest.cpp)
target_link_libraries(test_cli PRIVATE vallora_cli)

# The same images swept by the Linux build and by this one under Wine give
# the same files, byte for byte. VALLORA_LINUX_BUILD names a Linux build
# tree of this checkout (tools/test.sh passes its own).
set(VALLORA_LINUX_BUILD "" CACHE PATH "A Linux build of Vallora to compare the Windows program with")
if(VALLORA_LINUX_BUILD AND CMAKE_CROSSCOMPILING_EMULATOR)
    add_test(NAME windows_matches_linux
        COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/cli/windows-matches-linux.sh ${VALLORA_LINUX_BUILD}
            $<TARGET_FILE:vallora-recover> ${CMAKE_CURRENT_BINARY_DIR}/windows-matches-linux)
    set_tests_properties(windows_matches_linux PROPERTIES
        ENVIRONMENT "${VALLORA_WINE_ENVIRONMENT};VALLORA_WINE=${CMAKE_CROSSCOMPILING_EMULATOR}"
        FIXTURES_REQUIRED wine)
endif()
