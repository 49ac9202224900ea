# Test programs of the cross build run under Wine, in a prefix of their own
# inside the build dir. The prefix is made by the first test run (fixture
# "wine") and its wineserver is stopped, by prefix, after the last one.
set(VESK_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
set(VESK_WINE_ENV WINEPREFIX=${VESK_WINEPREFIX} WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=)

set(CMAKE_CROSSCOMPILING_EMULATOR env ${VESK_WINE_ENV} ${VESK_WINE})

# Every test program of the cross build requires the fixture "wine".
function(vesk_wine_fixture)
  add_test(NAME wine.start COMMAND sh ${PROJECT_SOURCE_DIR}/cmake/wine-prefix.sh start ${VESK_WINEPREFIX})
  add_test(NAME wine.stop COMMAND sh ${PROJECT_SOURCE_DIR}/cmake/wine-prefix.sh stop ${VESK_WINEPREFIX})
  set_tests_properties(wine.start PROPERTIES FIXTURES_SETUP wine)
  set_tests_properties(wine.stop PROPERTIES FIXTURES_CLEANUP wine)
endfunction()
