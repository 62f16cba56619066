// The tests the driver runs, in the order it runs them.
#pragma once

#include <atomic>
#include <string>
#include <thread>

#include "tests/wine/driver.h"

namespace driver {

// The unit of most tests, with its versions stated here rather than taken from the
// emulator's defaults.
extern const Settings SUPPORTED_UNIT;
// Waits for the simulator's read-out to say whether the updater holds the unit open.
void checkLinkOpen(Test& test, const Sim& sim, bool open);
// Starts the program with `settings` and waits until it is ready for an update.
bool startReady(Test& test, Sim& sim, const Settings& settings = SUPPORTED_UNIT);
// Presses Update and confirms; false (reported) when the confirmation does not come.
// `confirmed` gets the time just before OK was pressed.
bool startUpdate(Test& test, const Sim& sim, ULONGLONG& confirmed);
bool startUpdate(Test& test, const Sim& sim);
// Waits for the error box, checks its caption and text (with the system error it shows),
// and that the dialog already shows the closed link while it is open; leaves it open.
bool checkErrorBox(Test& test, const Sim& sim, DWORD timeoutMs, esc::MessageId message,
                   std::uint32_t errorValue, MessageBoxView& box);
// The panel's failure notice, with the link closed and Update disabled.
void checkFailureNotice(Test& test, const Sim& sim);

// Samples IsHungAppWindow on a window from a thread of this process, ten times a second,
// until stopped: whether Windows would ghost the window and offer to close the program.
struct HungSampler {
  std::atomic<bool> running{false};
  std::atomic<int> samples{0};
  std::atomic<int> hung{0};
  std::thread worker;

  void start(HWND window);
  void stop();
  ~HungSampler();
};
// Stops the sampler, prints its count and fails when any sample was hung.
void checkNeverHung(Test& test, HungSampler& sampler, const char* during);

// Asks the dialog, as Windows does at a logoff, whether the session may end, and checks
// the answer: refused while the update writes, allowed otherwise. With the simulator, also
// that the program gave Windows its reason for the refusal, and only then.
void checkSessionEnd(Test& test, const Sim& sim, bool refused, const char* when);
// While a transfer waits for a silent unit: the dialog answers (its status panel can be
// read), and a logoff request is refused if the update writes (`writing`).
void checkAnswersWhileAwaiting(Test& test, const Sim& sim, bool writing, const char* when);

// While the blocks are written: real clicks on Update, Close and the close box, Escape,
// Enter and Alt+F4 to the dialog and to the progress window, close requests and Close and
// Update commands posted from outside, and another device out and in. Checks that the
// update goes on, the windows stay, no box opens and no device search runs.
void disturbTheRunningUpdate(Test& test, const Sim& sim, HWND progress);
// The simulator's record of the update signals: kept awake and a percentage on the
// taskbar while writing; neither once the update has ended.
void checkSignalsWhileWriting(Test& test, const Sim& sim);
void checkSignalsAfterwards(Test& test, const Sim& sim);
// A while after the update: the program still runs, no box is open, and the status
// panel still shows `panel`; input given during the update has not acted late.
void checkNothingActsAfterTheUpdate(Test& test, const Sim& sim, const std::wstring& panel);

// Settings of the simulated unit (no program is started)
void settingParsersAcceptTheDocumentedForms(Test& test);
void settingParsersRefuseMalformedTexts(Test& test);
void faultsCountFromTheRequestsSeenSoFar(Test& test);
void settingsFromTheEnvironmentNameTheBadVariable(Test& test);

// Start-up and device detection
void startupWithoutUnitShowsNoUnitHeadingAndInstructions(Test& test);
void supportedUnitIsReadyForUpdate(Test& test);
void versionRowsShowWhatTheUnitReports(Test& test);
void acceptedModelShowsVersionsButOffersNoUpdate(Test& test);
void wrongModeUnitShowsWrongModeHeading(Test& test);
void unitWithoutUpdatableEscShowsNoEscHeading(Test& test);
void incompatibleEscIsAnnouncedBeforeThePanelChanges(Test& test);
void removalOfTheOpenUnitAndItsReturn(Test& test);
void acceptedUnitArrivingAfterRemovalChangesNothingVisible(Test& test);

// Device events away from the plain start-up
void givenUpUnitsArrivingAfterRemovalShowTheirHeading(Test& test);
void incompatibleEscArrivingAfterRemovalIsAnnouncedBeforeThePanelChanges(Test& test);
void otherHidDevicesLeaveTheOpenUnitAlone(Test& test);
void removalOfTheUnitsPathInOtherLettersCaseClosesTheLink(Test& test);
void unitWhoseIdentificationFailsAtStartupCountsAsNoUnit(Test& test);
void unitWhoseIdentificationFailsAtArrivalStaysOpenUntilItsRemoval(Test& test);
void unplugWhileTheConfirmationIsOpenFailsTheLockWithoutCodeLine(Test& test);
void controllerSwappedInDuringTheConfirmationIsShownAsDetectionShowsIt(Test& test);
void arrivalsWhileTheIncompatibilityBoxIsOpenWaitForIt(Test& test);
// A thousand arrivals and removals in bursts, also while each kind of box is open
void hotPlugStormLeavesTheDialogConsistent(Test& test);

// The update
void fullUpdateWritesTheImageAndReportsSuccess(Test& test);
void declinedQuestionsSendNothing(Test& test);
void failingDataBlockShowsErrorBoxThenFailureNotice(Test& test);
void quitRequestDuringTheUpdateActsOnceItHasEnded(Test& test);
void unplugDuringBlockLoopFailsTheWrite(Test& test);
void refusedLockReportsFunctionFailed(Test& test);
void silentUnitFailsTheLockAfterTheReadTimeout(Test& test);
void failedEraseIsReportedAfterTheEraseWaits(Test& test);
void updateWithClosedLinkReportsUnitNotDetected(Test& test);

// What the dialog paints
void onlyTheThirdVersionRowIsRed(Test& test);
void logoStandsRightOfTheGroupBoxWithoutItsGreenKey(Test& test);

// Closing, languages, start-up settings
void escapeClosesTheProgram(Test& test);
void enterAndTheCloseBoxCloseTheProgram(Test& test);
void updateCommandActsWhateverItsNotificationCode(Test& test);
// German texts under a German user interface, English under any other.
void userInterfaceTextsFollowTheLanguage(Test& test);
void refusedNotificationsEndTheProgramAfterAnErrorBox(Test& test);
void malformedStartupSettingIsRefusedWithAMessage(Test& test);

// The product, EscUpdater.exe with its firmware images, on the unit the driver emulates
// behind the test stand-ins of hid.dll and setupapi.dll (see setProduct)
void setProduct(const std::wstring& program, const std::wstring& imageFolder);
void productStartsReadyWithASupportedUnit(Test& test);
void productDiscardsAStaleReportBeforeARequest(Test& test);
void productReportsARefusedBlockAndNoSuccess(Test& test);
void productWritesTheImageByteForByte(Test& test);
void productStaysAliveWhileASilentUnitIsAwaitedAtTheLock(Test& test);
void productStaysAliveWhileASilentUnitIsAwaitedAtAnArrival(Test& test);

}  // namespace driver
