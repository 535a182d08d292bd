#pragma once

#include <QObject>
#include <QTemporaryDir>

namespace zandorui::testing {

class VersionFileTest : public QObject {
  Q_OBJECT
 private slots:
  void RequestNeedsBothWordsInAnyCase();
  void TheFileHoldsFiveLinesAndAZero();
  void TheProgramWritesItWithoutADisplay();
};

class MessageLogTest : public QObject {
  Q_OBJECT
 private slots:
  void TrimsTheFirst500CharactersPast100Lines();
  void KeepsEveryLineWhileHidden();
  void TheFileAlsoHoldsTheLinesBeforeIt();
};

class JobEventQueueTest : public QObject {
  Q_OBJECT
 private slots:
  void KeepsEveryLineAndTheLatestProgressOfEachRow();
  void ALongBatchLetsTheEventLoopRunBetweenItsParts();
  void AQuestionIsTakenWithoutWaitingForTheTimer();
  void TheWindowNeverWaitsForAWorkerHoldingTheQueue();
};

class WalkControllerTest : public QObject {
  Q_OBJECT
 private slots:
  void NothingStartsWithoutATickedRowOrWhileAWalkRuns();
  void AFailedRowKeepsItsOutcomeInTheListAndTheLog();
  void AnUpdateShowsItsUnitsAndEndsWithTheSuccessBox();
};

class ShellTest : public QObject {
  Q_OBJECT
 private slots:
  void TheAboutBoxShowsItsWholeTitle();
  void OverrideTwoMovesNothingAndKeepsTheWindowsSize();
};

class FormTest : public QObject {
  Q_OBJECT
 private slots:
  void initTestCase();
  void StartsWithTheControlsOfAnIdleForm();
  void LoadingAFileEnablesTheWalksAndNamesTheFamily();
  void RecentFilesKeepTheFourLatestOnce();
  void OverridesAskAndCancel();
  void ToolTipsFollowTheirSwitch();
  void ListButtonsEditAndSaveTheList();
  void WalksNeedAFileAndATickedRow();
  void SerialSettingsFromTheForm();
  void TheContextMenuBelongsToTheFormBackground();
  void TheLogWindowShowsAndHides();

 private:
  QTemporaryDir listFolder_;
};

class DeviceListModelTest : public QObject {
  Q_OBJECT
 private slots:
  void ARefusedEditChangesNothing();
  void AStoredEditShowsTheWholeRowAgain();
  void StatusTextsMoveWithTheirRows();
  void CheckStatesRoundTripToTheList();
  void ARowNotReadWholeShowsWhyAndKeepsItsEmptyCells();
  void ThePasteTargetIsMarkedAndFollowsItsRow();
  void WalksReadTheRowsAsTheyStandNow();
};

class ListEditingTest : public QObject {
  Q_OBJECT
 private slots:
  void TypedKeysGetTheirDashes();
  void EnterStoresAndEscapeLeavesTheCell();
  void TabWalksTheEditableCellsAndWraps();
  void PortCellsResetWhenOpened();
  void TheKeyEditorTakesHexDigitsOnly();
  void AddressesJoinTheChoicesAndEmptyMeansSerial();
  void TheDropDownsOpenWithTheirCell();
  void ALongNameWidensUpToTheListsEdge();
  void ScrollingEndsTheEditAndStoresIt();
  void AReloadStoresTheOpenEditFirst();
  void CopyPasteAndDeleteRows();
  void TheSavedListHoldsWhatWasTyped();
};

class ViewsTest : public QObject {
  Q_OBJECT
 private slots:
  void RecordsShowTheirFields();
  void TheSelectorKeepsElevenNumbersAndBounds();
  void TheMemoryViewPagesThroughTheMap();
  void TheMemoryViewsSpinsReadAsItsBoxes();
  void TheStatusLineSaysTheMapIsMade();
  void DataBeforeAnyAddressShowsAtSegmentFF();
  void OpenViewsFollowTheToolTipSwitch();
  void ALoadClosesEveryView();
  void TheFileTestReportsItsVerdict();
};

class SerialSettingsTest : public QObject {
  Q_OBJECT
 private slots:
  void ShowsTheSettingsAndKeepsThemOnCancel();
  void OverrideOnAndOffLeavesTheComEntries();
  void ResetAndPortDefaults();
  void IrqMustBeOneToSixteen();
  void ComPortsMapToDevices();
  void PortsMappedByTheEnvironmentSaySo();
};

class WheelTest : public QObject {
  Q_OBJECT
 private slots:
  void AWheelOverTheMappingScrollsItAndChangesNoPort();
  void AControlInAnAreaTakesTheWheelOnceFocused();
};

class VersionDialogTest : public QObject {
  Q_OBJECT
 private slots:
  void AnUpdateRunConfirmsItself();
  void ACheckRunWaitsAndShowsTheVerdicts();
  void WithoutMetadataNoUnitIsChosenAndOkStaysOpen();
  void AWrongFileLeavesByCancel();
  void AMissingSerialNumberKeepsOkDisabledUnlessOverridden();
  void ASerialNumberOverTwelveCharactersIsRefused();
};

class DesktopEndToEndTest : public QObject {
  Q_OBJECT
 private slots:
  void UpdatesTheTickedDevicesFromTheForm();
  void ChecksADeviceAndWaitsForTheOperator();
  void FailuresShowInTheRowsAndNoSuccessBox();
  void CancelStopsALongSerialUpdate();
  void SeveralRowsAtOnceShowTheirOwnProgress();
  void TheCloseGuardKeepsARunningUpdate();
};

class OperatorWalksTest : public QObject {
  Q_OBJECT
 private slots:
  void AUnitLeftOutIsSaidInTheRowTheSummaryAndTheLog();
  void RowsSideBySideKeepTheirOwnProgressAndUnits();
  void LoadingAFileWaitsForTheWalk();
  void TheCloseGuardCoversEveryWalkThatWrites();
  void EachWalkAndLoadStartsClean();
  void AMessageHoldsItsWorkerWhileOthersGoOn();
  void QuestionsAndMessagesNameTheirDevice();
  void LinuxErrorsSayWhatToDo();
  void TheLayoutStaysPutDuringAWalk();
  void ADowngradeIsNamed();
  void EachUnitsBoxSaysWhetherItsUnitWasProgrammed();
};

class OperatorQuestionsTest : public QObject {
  Q_OBJECT
 private slots:
  void ACancelClosesTheWindowsOfItsRows();
  void ClosingMidWalkEndsEveryRowInTheLogFirst();
};

class OperatorListTest : public QObject {
  Q_OBJECT
 private slots:
  void TabLeavesTheDropDownsAndTypedTextLandsInItsCell();
  void TheContextMenuActsOnTheRowUnderTheCursor();
  void TheCurrentRowsWholeStatusIsInTheStatusLine();
  void SaveKeepsTheRowsAnotherProgramAdded();
  void SaveKeepsTheFileMode();
  void ClosingWithEditsNotSavedAsks();
  void AListFileOfAnotherProgramIsMergedWhenItChanges();
  void APortOutOfRangeIsRefused();
  void ARefusedListFileIsShownWithItsReason();
  void TabLeavesTheListAndThePortEditorSelectsItsText();
};

class FleetWalksTest : public QObject {
  Q_OBJECT
 private slots:
  void TheWalkSettingsReach256AndAreKept();
  void AStagedWalkIsReportedAndItsFailuresRetried();
  void ACutUpdateSaysToRunItAgain();
};

class SessionRecordsTest : public QObject {
  Q_OBJECT
 private slots:
  void AWalkRecordsEachRowForAReplayWithoutItsKey();
  void RetryFailedKeepsTheRecordOfEveryAttempt();
  void AFolderThatCannotTakeRecordsStartsNothing();
};

}  // namespace zandorui::testing
