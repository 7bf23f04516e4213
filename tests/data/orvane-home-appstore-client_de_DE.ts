<?xml version="1.0" encoding="utf-8"?>
<!-- SPDX-FileCopyrightText: 2026 Orvane -->
<!-- SPDX-License-Identifier: GPL-3.0-or-later -->
<!DOCTYPE TS>
<!-- German test catalogue: only the texts the daemon shows. -->
<TS version="2.1" language="de_DE">
<context>
    <name>QObject</name>
    <message>
        <source>&quot;%1&quot; installed successfully</source>
        <translation>&quot;%1&quot; erfolgreich installiert</translation>
    </message>
    <message>
        <source>Failed to install &quot;%1&quot;</source>
        <translation>Installation von &quot;%1&quot; fehlgeschlagen</translation>
    </message>
    <message>
        <source>&quot;%1&quot; updated successfully</source>
        <translation>&quot;%1&quot; erfolgreich aktualisiert</translation>
    </message>
    <message>
        <source>Failed to update &quot;%1&quot;</source>
        <translation>Aktualisierung von &quot;%1&quot; fehlgeschlagen</translation>
    </message>
    <message>
        <source>%1 removed successfully</source>
        <translation>%1 erfolgreich entfernt</translation>
    </message>
    <message>
        <source>Failed to remove the app</source>
        <translation>Entfernen der App fehlgeschlagen</translation>
    </message>
    <message>
        <source>&quot;%1&quot; new version available</source>
        <translation>Neue Version von &quot;%1&quot; verfügbar</translation>
    </message>
    <message>
        <source>App Updates are available</source>
        <translation>App-Aktualisierungen sind verfügbar</translation>
    </message>
    <message numerus="yes">
        <source>%n apps</source>
        <translation>
            <numerusform>%n App</numerusform>
            <numerusform>%n Apps</numerusform>
        </translation>
    </message>
    <message>
        <source>1 app</source>
        <translation>1 App</translation>
    </message>
    <message>
        <source>View</source>
        <translation>Anzeigen</translation>
    </message>
</context>
</TS>
