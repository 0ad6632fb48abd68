#pragma once
// The full check of the history file that a quick start puts off.
//
// After a clean end the start reads only the file's header and catalogue, so
// that the window shows at once; the full check (every page) then runs on a
// thread of its own, on a read-only connection, while the user looks at the
// window. Nothing is written to the file before it has passed: a write that
// comes earlier waits for it (the window shows progress with 中止), and a
// file found damaged is never written to in this run.

#include "history/HistoryWorker.h"

#include <QDate>
#include <QString>
#include <functional>

namespace history {

// Starts the check of the file at path in the background (a check still
// running from an earlier open is stopped first).
void startBackgroundCheck(const QString &path);
// The file was checked in full before it was opened: sound.
void markCheckedSound();
// Stops a running check and forgets its result (the file is being closed).
void stopBackgroundCheck();
// True once the file passed the full check in this run: only then may a
// clean end vouch for it.
bool checkedSound();
// True while the background check runs.
bool checkRunning();

// Before anything is written to the history file: returns at once once the
// check has passed; while it runs, waits, asking keepGoing (or, without one,
// the wait handler) about every 50 ms, and throws WorkStopped when told to
// stop; throws ExpectedFailure naming the damage when the file failed it.
void requireSoundHistory(const KeepGoing &keepGoing = {});

// The window's progress while a write waits for the check: called once per
// wait, it returns the keepGoing of that wait. Empty: the wait blocks.
using CheckWaitHandler = std::function<KeepGoing()>;
void setCheckWaitHandler(CheckWaitHandler handler);
// Told once, on the thread that started the check, when the background
// check found the file damaged (its text). Empty: nobody is told.
void setDamageHandler(std::function<void(const QString &damage)> handler);

// Stamps the history file at path as closed cleanly, vouched for by a full
// check on checkedOn (the end of a run; tests make a stamp of an earlier day).
// A start that finds the file as stamped checks it in full only when that
// day is not today, and then in the background.
void stampCleanEnd(const QString &path, QDate checkedOn);

// The text of a damaged history file that is not written to.
QString damagedHistoryText(const QString &damage);

} // namespace history
