// What the arcade buttons do on the window thread (their guards, the confirmation, the status
// texts), the workers behind them, and the handling of their answers. Every worker is a detached
// thread around one of the arcade job bodies that posts exactly one application event.
#pragma once

#include "app/app_events.h"

namespace app {

class MainWindow;

// Status texts of the flows.
inline constexpr const char* kAlreadyWorking = "Already working...";
inline constexpr const char* kAlreadyConnected =
    "Already connected. Unbind to pick another wallet.";
inline constexpr const char* kWaitingForKorb = "Waiting for Korb to approve...";
inline constexpr const char* kConnected = "Connected. Play when you are funded.";
inline constexpr const char* kConnectFailed = "Connect failed.";
inline constexpr const char* kUnbindRefused = "Finish or close the run before unbinding.";
inline constexpr const char* kUnbound = "Unbound. Connect again to pick a wallet in Korb.";
inline constexpr const char* kFinishRunFirst = "Finish this run first.";
inline constexpr const char* kConnectFirst = "Connect a Korb wallet first.";
inline constexpr const char* kFrozen = "This identity is frozen. No play.";
inline constexpr const char* kPayingEntry = "Paying enter fee in Korb...";
inline constexpr const char* kPlayFullRunFirst = "Play a full run first.";
inline constexpr const char* kMissingEntry = "Missing enter txid.";
inline constexpr const char* kConnectSameKorb = "Connect the same Korb that paid to enter.";
inline constexpr const char* kCouldNotSign = "Could not sign the score.";
inline constexpr const char* kRecording = "Recording score on-chain (1 sat)...";
inline constexpr const char* kPayFailed = "Pay failed.";
inline constexpr const char* kEntered = "Entered. Blocks incoming.";
inline constexpr const char* kScoreRecorded = "Score recorded. ";
inline constexpr const char* kReportSent = "Report sent. ";
// No thread could be made for a worker: nothing was started and nothing changed.
inline constexpr const char* kNoWorker = "Could not start the work in the background. Try again.";

inline constexpr const char* kEntryCaption = "O-Stakka";
inline constexpr const char* kEntryQuestion =
    "Enter Stakka for 5000 sats?\n\n2000 to the house\n3000 to this week's pot\n\n"
    "Korb will prompt. One life. No continues.";

// The buttons.
void on_connect(MainWindow& window);
void on_unbind(MainWindow& window);
void on_enter(MainWindow& window);
void on_record_score(MainWindow& window);

// Look-ups on workers of their own: the weekly pot (on creation, after a connect and after every
// payment answer), the wallet balance (at most one at a time) and the update check.
void start_pot_refresh();
void start_balance_refresh();
void start_update_check();

// The answers.
void on_connect_reply(MainWindow& window, const AppEvent& event);
void on_payment_reply(MainWindow& window, const AppEvent& event);
void on_pot_result(MainWindow& window, const AppEvent& event);
void on_balance_result(MainWindow& window, const AppEvent& event);

}  // namespace app
