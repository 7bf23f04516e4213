// SPDX-FileCopyrightText: 2026 Orvane
// SPDX-License-Identifier: GPL-3.0-or-later

// The start of a package's bottle script: only root's own script, reached
// from the real /opt/apps through directories root alone may change.
#pragma once

#include <QString>

struct BottleScriptStart
{
    enum Outcome {
        Started,
        NotFound, // no such file, or something else than a file at its place
        Refused, // fault names what is wrong, at which path
    };
    Outcome outcome = NotFound;
    QString fault;
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
BottleScriptStart startBottleScript(const QString &appsDir, const QString &packageName);
