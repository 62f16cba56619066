// The Wine test driver: starts EscUpdaterSim.exe under test settings, works its windows
// and checks what they show. One line per test result, then "N passed, M failed".
//
//   esc_wine_driver --sim <EscUpdaterSim.exe> [--screenshots <folder>] [--only <text>]...
//                   [--ui-language <id>]
//   esc_wine_driver --product <EscUpdater.exe> --images <folder> [--screenshots <folder>]
//                   [--only <text>]...
//   esc_wine_driver --list
//
// --product runs the product's tests instead of the simulator's: EscUpdater.exe built
// with the firmware images in the --images folder, on a unit the driver emulates behind
// the test stand-ins of hid.dll and setupapi.dll, which the prefix must provide for it
// (tests/wine/run.sh installs them).
// --only runs the tests whose names contain the text (it may be given several times).
// --ui-language (e.g. 0x0407) makes the language test fail unless the user interface
// has that language, so that a run meant to be German cannot pass as English.
// With --screenshots the driver prints "SCREENSHOT <name>" and waits for <name>.ack in
// that folder, which the runner creates once it has captured the display.
#include <cstdio>
#include <cwchar>
#include <iterator>
#include <string>
#include <vector>

#include "tests/wine/driver_tests.h"

namespace {

struct TestCase {
  const char* name;
  void (*run)(driver::Test& test);
  bool startsProgram;
};

const TestCase TESTS[] = {
    {"setting_parsers_accept_the_documented_forms", driver::settingParsersAcceptTheDocumentedForms,
     false},
    {"setting_parsers_refuse_malformed_texts", driver::settingParsersRefuseMalformedTexts, false},
    {"faults_count_from_the_requests_seen_so_far", driver::faultsCountFromTheRequestsSeenSoFar,
     false},
    {"settings_from_the_environment_name_the_bad_variable",
     driver::settingsFromTheEnvironmentNameTheBadVariable, false},
    {"startup_without_unit_shows_no_unit_heading_and_instructions",
     driver::startupWithoutUnitShowsNoUnitHeadingAndInstructions, true},
    {"supported_unit_is_ready_for_update", driver::supportedUnitIsReadyForUpdate, true},
    {"version_rows_show_what_the_unit_reports", driver::versionRowsShowWhatTheUnitReports, true},
    {"accepted_model_shows_versions_but_offers_no_update",
     driver::acceptedModelShowsVersionsButOffersNoUpdate, true},
    {"wrong_mode_unit_shows_wrong_mode_heading", driver::wrongModeUnitShowsWrongModeHeading, true},
    {"unit_without_updatable_esc_shows_no_esc_heading",
     driver::unitWithoutUpdatableEscShowsNoEscHeading, true},
    {"incompatible_esc_is_announced_before_the_panel_changes",
     driver::incompatibleEscIsAnnouncedBeforeThePanelChanges, true},
    {"removal_of_the_open_unit_and_its_return", driver::removalOfTheOpenUnitAndItsReturn, true},
    {"accepted_unit_arriving_after_removal_changes_nothing_visible",
     driver::acceptedUnitArrivingAfterRemovalChangesNothingVisible, true},
    {"given_up_units_arriving_after_removal_show_their_heading",
     driver::givenUpUnitsArrivingAfterRemovalShowTheirHeading, true},
    {"incompatible_esc_arriving_after_removal_is_announced_before_the_panel_changes",
     driver::incompatibleEscArrivingAfterRemovalIsAnnouncedBeforeThePanelChanges, true},
    {"other_hid_devices_leave_the_open_unit_alone", driver::otherHidDevicesLeaveTheOpenUnitAlone,
     true},
    {"removal_of_the_units_path_in_other_letters_case_closes_the_link",
     driver::removalOfTheUnitsPathInOtherLettersCaseClosesTheLink, true},
    {"unit_whose_identification_fails_at_startup_counts_as_no_unit",
     driver::unitWhoseIdentificationFailsAtStartupCountsAsNoUnit, true},
    {"unit_whose_identification_fails_at_arrival_stays_open_until_its_removal",
     driver::unitWhoseIdentificationFailsAtArrivalStaysOpenUntilItsRemoval, true},
    {"unplug_while_the_confirmation_is_open_fails_the_lock_without_code_line",
     driver::unplugWhileTheConfirmationIsOpenFailsTheLockWithoutCodeLine, true},
    {"controller_swapped_in_during_the_confirmation_is_shown_as_detection_shows_it",
     driver::controllerSwappedInDuringTheConfirmationIsShownAsDetectionShowsIt, true},
    {"arrivals_while_the_incompatibility_box_is_open_wait_for_it",
     driver::arrivalsWhileTheIncompatibilityBoxIsOpenWaitForIt, true},
    {"hot_plug_storm_leaves_the_dialog_consistent", driver::hotPlugStormLeavesTheDialogConsistent,
     true},
    {"declined_questions_send_nothing", driver::declinedQuestionsSendNothing, true},
    {"failing_data_block_shows_error_box_then_failure_notice",
     driver::failingDataBlockShowsErrorBoxThenFailureNotice, true},
    {"quit_request_during_the_update_acts_once_it_has_ended",
     driver::quitRequestDuringTheUpdateActsOnceItHasEnded, true},
    {"unplug_during_block_loop_fails_the_write", driver::unplugDuringBlockLoopFailsTheWrite, true},
    {"refused_lock_reports_function_failed", driver::refusedLockReportsFunctionFailed, true},
    {"silent_unit_fails_the_lock_after_the_read_timeout",
     driver::silentUnitFailsTheLockAfterTheReadTimeout, true},
    {"failed_erase_is_reported_after_the_erase_waits",
     driver::failedEraseIsReportedAfterTheEraseWaits, true},
    {"update_with_closed_link_reports_unit_not_detected",
     driver::updateWithClosedLinkReportsUnitNotDetected, true},
    {"full_update_writes_the_image_and_reports_success",
     driver::fullUpdateWritesTheImageAndReportsSuccess, true},
    {"only_the_third_version_row_is_red", driver::onlyTheThirdVersionRowIsRed, true},
    {"logo_stands_right_of_the_group_box_without_its_green_key",
     driver::logoStandsRightOfTheGroupBoxWithoutItsGreenKey, true},
    {"escape_closes_the_program", driver::escapeClosesTheProgram, true},
    {"enter_and_the_close_box_close_the_program", driver::enterAndTheCloseBoxCloseTheProgram, true},
    {"update_command_acts_whatever_its_notification_code",
     driver::updateCommandActsWhateverItsNotificationCode, true},
    {"user_interface_texts_follow_the_language", driver::userInterfaceTextsFollowTheLanguage, true},
    {"refused_notifications_end_the_program_after_an_error_box",
     driver::refusedNotificationsEndTheProgramAfterAnErrorBox, true},
    {"malformed_startup_setting_is_refused_with_a_message",
     driver::malformedStartupSettingIsRefusedWithAMessage, true},
};

const TestCase PRODUCT_TESTS[] = {
    {"product_starts_ready_with_a_supported_unit", driver::productStartsReadyWithASupportedUnit,
     true},
    {"product_discards_a_stale_report_before_a_request",
     driver::productDiscardsAStaleReportBeforeARequest, true},
    {"product_reports_a_refused_block_and_no_success",
     driver::productReportsARefusedBlockAndNoSuccess, true},
    {"product_writes_the_image_byte_for_byte", driver::productWritesTheImageByteForByte, true},
    {"product_stays_alive_while_a_silent_unit_is_awaited_at_the_lock",
     driver::productStaysAliveWhileASilentUnitIsAwaitedAtTheLock, true},
    {"product_stays_alive_while_a_silent_unit_is_awaited_at_an_arrival",
     driver::productStaysAliveWhileASilentUnitIsAwaitedAtAnArrival, true},
};

struct Options {
  std::wstring simPath;
  std::wstring productPath;
  std::wstring imageFolder;
  std::wstring screenshots;
  std::vector<std::string> only;
  LANGID uiLanguage = 0;
  bool list = false;
};

std::string narrow(const wchar_t* text) {
  std::string result;
  for (const wchar_t* c = text; *c != L'\0'; ++c) {
    result += *c < 0x80 ? static_cast<char>(*c) : '?';
  }
  return result;
}

bool parseOptions(int argc, wchar_t** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::wstring argument = argv[i];
    const bool hasValue = i + 1 < argc;
    if (argument == L"--sim" && hasValue) {
      options.simPath = argv[++i];
    } else if (argument == L"--product" && hasValue) {
      options.productPath = argv[++i];
    } else if (argument == L"--images" && hasValue) {
      options.imageFolder = argv[++i];
    } else if (argument == L"--screenshots" && hasValue) {
      options.screenshots = argv[++i];
    } else if (argument == L"--only" && hasValue) {
      options.only.push_back(narrow(argv[++i]));
    } else if (argument == L"--ui-language" && hasValue) {
      options.uiLanguage = static_cast<LANGID>(std::wcstoul(argv[++i], nullptr, 0));
    } else if (argument == L"--list") {
      options.list = true;
    } else {
      std::fprintf(stderr, "unknown or incomplete argument: %s\n", narrow(argv[i]).c_str());
      return false;
    }
  }
  if (options.productPath.empty() != options.imageFolder.empty()) {
    std::fprintf(stderr, "--product and --images go together\n");
    return false;
  }
  return true;
}

bool selected(const Options& options, const char* name) {
  if (options.only.empty()) {
    return true;
  }
  for (const std::string& part : options.only) {
    if (std::string(name).find(part) != std::string::npos) {
      return true;
    }
  }
  return false;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  Options options;
  if (!parseOptions(argc, argv, options)) {
    return 2;
  }
  if (options.list) {
    for (const TestCase& test : TESTS) {
      std::printf("%s\n", test.name);
    }
    for (const TestCase& test : PRODUCT_TESTS) {
      std::printf("%s (--product)\n", test.name);
    }
    return 0;
  }
  const bool productMode = !options.productPath.empty();
  driver::setSimPath(options.simPath);
  driver::setProduct(options.productPath, options.imageFolder);
  driver::setScreenshotDirectory(options.screenshots);
  driver::setExpectedUiLanguage(options.uiLanguage);

  int passed = 0;
  int failed = 0;
  const TestCase* first = productMode ? std::begin(PRODUCT_TESTS) : std::begin(TESTS);
  const TestCase* last = productMode ? std::end(PRODUCT_TESTS) : std::end(TESTS);
  for (const TestCase* entry = first; entry != last; ++entry) {
    const TestCase& testCase = *entry;
    if (!selected(options, testCase.name)) {
      continue;
    }
    driver::Test test{testCase.name, 0};
    std::printf("RUN  %s\n", testCase.name);
    std::fflush(stdout);
    const ULONGLONG started = GetTickCount64();
    if (testCase.startsProgram && !productMode && options.simPath.empty()) {
      driver::check(test, false, "no --sim given");
    } else {
      testCase.run(test);
    }
    const double seconds = static_cast<double>(GetTickCount64() - started) / 1000.0;
    std::printf("%s %s (%.1f s)\n", test.failures == 0 ? "PASS" : "FAIL", testCase.name, seconds);
    std::fflush(stdout);
    ++(test.failures == 0 ? passed : failed);
  }
  std::printf("%d passed, %d failed\n", passed, failed);
  std::fflush(stdout);
  return failed == 0 ? 0 : 1;
}
