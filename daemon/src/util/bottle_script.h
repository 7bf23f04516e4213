// SPDX-FileCopyrightText: 2026 Orvane
// SPDX-License-Identifier: GPL-3.0-or-later

// The start of a package's bottle script: only root's own script, reached
// from the real /opt/apps through directories root alone may change.
#pragma once

#include <QString>

#include <sys/types.h>

struct BottleScriptStart
{
    enum Outcome {
        Started,
        NotFound, // no such file, or something else than a file at its place
        Refused, // fault names what is wrong, at which path
    };
    Outcome outcome = NotFound;
    QString fault;
    pid_t pid = 0; // of the started bash, when known
};

// Starts, detached, the program bash with "-c" and "SCRIPT -c", SCRIPT being
// appsDir/packageName/files/run.sh, when every component of that path from
// "/" down is a directory owned by root that no one else may write (the
// script: a regular executable file, the same), and none is a symbolic link
// (appsDir itself is taken as it resolves). The check runs in the forked
// child right before the exec, on the directories as it opens them one
// within the other, so the tree that passed is the one bash is started on;
// since no one but root may change any of its entries, the path bash opens
// leads to the same file. packageName must be one path component.
//
// The script is meant to outlive the daemon, but a service manager ends every
// process of the daemon's unit with it. So where the session bus may have a
// user manager, bash waits before its exec while the user manager is asked,
// without blocking, for a scope of its own (appScopeName) holding it, as
// desktop launchers start apps; it goes on once it is in the scope, when the
// user manager refuses or is absent, or after kAppScopeWaitMs at most.
BottleScriptStart startBottleScript(const QString &appsDir, const QString &packageName);

constexpr int kAppScopeWaitMs = 2000;

// "app-orvane\x2dappstore-PACKAGE-PID.scope": the launcher and the package
// escaped as unit names want them ("\xNN" for every character but ASCII
// letters, digits, ":", "_" and "."), the package cut so that the name fits.
QString appScopeName(const QString &packageName, pid_t pid);
