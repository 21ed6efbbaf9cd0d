# Read by ctest after the test programs' own lists (TEST_INCLUDE_FILES, set
# in tests/CMakeLists.txt): the tests whose point is a bound on real time.
# They share one lock, so no two of them run at once, while the rest of the
# suite, which mostly waits on pseudo-terminals, runs beside them with more
# jobs than cores (scripts/test). A name that is not there (a renamed test,
# a program a sanitizer build leaves out) is passed over.
set(chronavel_timing_tests
  # A read's time-out is kept to the tenth of a second.
  platform.SerialPty.ReadTimeOuts
  # The simulator notes when the frame's last byte came, within 60 ms.
  sim.SimTest.TimeSetArrivesWithTheFramesLastByte
  sim.SimTest.TimeSetIsTakenAndItsErrorRecorded
  # The daemon ends within a second of SIGTERM on a babbling line.
  tools_e2e.CtlMisbehavingLine.EchoIsNoAnswerAndBabbleEndsOnSchedule
  # The web face answers while the line is kept in time, within 5 s.
  tools_e2e.CtlHttp.DaemonServesTheLinesStateWhileKeepingItInTime
  # The census's and the master search's fast probes wait a few tens of
  # milliseconds for an answer: a simulator kept from the CPU answers late.
  tools_e2e.CtlScan.CensusListsTheAnsweringClocks
  tools_e2e.CtlScan.FindsTheMaster
  integration.MasterSearchPortTest.ReusesTheOpenPortOrOpensTheChosenOneForTheSearch
)
# (The windows' tests are listed after this file is read: their lock is set
# in tests/CMakeLists.txt.)
foreach(t IN LISTS chronavel_timing_tests)
  set_tests_properties(${t} PROPERTIES RESOURCE_LOCK timing)
endforeach()
