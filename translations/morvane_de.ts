<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de">
<context>
    <name>AddDialog</name>
    <message>
        <source>Add File(s)</source>
        <translation>Dateien hinzufügen</translation>
    </message>
    <message>
        <source>&amp;Add</source>
        <translation>&amp;Hinzufügen</translation>
    </message>
    <message>
        <source>Files or folder:</source>
        <translation>Dateien oder Ordner:</translation>
    </message>
</context>
<context>
    <name>CommandLine</name>
    <message>
        <source>Files Not Added</source>
        <translation>Dateien nicht hinzugefügt</translation>
    </message>
    <message>
        <source>These names are not readable files or folders and were not added:
%1</source>
        <translation>Diese Namen sind keine lesbaren Dateien oder Ordner und wurden nicht hinzugefügt:
%1</translation>
    </message>
    <message>
        <source>Converts audio files to MP3. The files given are queued for conversion; a folder adds the audio files below it, and their MP3 files keep its tree below the output folder.</source>
        <translation>Wandelt Audiodateien in MP3 um. Die angegebenen Dateien werden zur Umwandlung eingereiht; ein Ordner fügt die Audiodateien darunter hinzu, und ihre MP3-Dateien behalten seine Ordnerstruktur im Ausgabeordner.</translation>
    </message>
    <message>
        <source>Audio files or folders to queue.</source>
        <translation>Einzureihende Audiodateien oder Ordner.</translation>
    </message>
</context>
<context>
    <name>ConversionThread</name>
    <message numerus="yes">
        <source>the encoder tool wrote nothing for %n second(s) and was stopped</source>
        <translation>
            <numerusform>das Kodierprogramm hat %n Sekunde lang nichts geschrieben und wurde angehalten</numerusform>
            <numerusform>das Kodierprogramm hat %n Sekunden lang nichts geschrieben und wurde angehalten</numerusform>
        </translation>
    </message>
    <message>
        <source>the folder %1 could not be made</source>
        <translation>der Ordner %1 konnte nicht angelegt werden</translation>
    </message>
    <message>
        <source>%1 was not written by this program and was left as it is</source>
        <translation>%1 stammt nicht von diesem Programm und wurde belassen, wie es ist</translation>
    </message>
    <message>
        <source>the playlist %1 could not be written</source>
        <translation>die Wiedergabeliste %1 konnte nicht geschrieben werden</translation>
    </message>
    <message>
        <source>kept the existing %1</source>
        <translation>die vorhandene Datei %1 wurde behalten</translation>
    </message>
    <message>
        <source>the output folder %1 does not exist</source>
        <translation>der Ausgabeordner %1 existiert nicht</translation>
    </message>
    <message>
        <source>%1: the album gain could not be written: %2</source>
        <translation>%1: der Albumpegel konnte nicht geschrieben werden: %2</translation>
    </message>
</context>
<context>
    <name>DesktopSession</name>
    <message>
        <source>Converting audio files to MP3</source>
        <translation>Audiodateien werden in MP3 umgewandelt</translation>
    </message>
    <message>
        <source>Conversion completed</source>
        <translation>Umwandlung abgeschlossen</translation>
    </message>
    <message numerus="yes">
        <source>%n file(s) converted.</source>
        <translation>
            <numerusform>%n Datei umgewandelt.</numerusform>
            <numerusform>%n Dateien umgewandelt.</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n file(s) failed, %1 converted.</source>
        <translation>
            <numerusform>%n Datei fehlgeschlagen, %1 umgewandelt.</numerusform>
            <numerusform>%n Dateien fehlgeschlagen, %1 umgewandelt.</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n file(s) kept as they were, %1 converted.</source>
        <translation>
            <numerusform>%n Datei unverändert behalten, %1 umgewandelt.</numerusform>
            <numerusform>%n Dateien unverändert behalten, %1 umgewandelt.</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n file(s) failed, %1 kept as they were, %2 converted.</source>
        <translation>
            <numerusform>%n Datei fehlgeschlagen, %1 unverändert behalten, %2 umgewandelt.</numerusform>
            <numerusform>%n Dateien fehlgeschlagen, %1 unverändert behalten, %2 umgewandelt.</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>Morvane</source>
        <translation>Morvane</translation>
    </message>
    <message>
        <source>Morvane converts audio files to MP3.</source>
        <translation>Morvane wandelt Audiodateien in MP3 um.</translation>
    </message>
    <message>
        <source>Files to convert</source>
        <translation>Umzuwandelnde Dateien</translation>
    </message>
    <message>
        <source>The queued files with their duration and size. The row of a converted file turns green, the row of a failed file red, and its tool tip says why.</source>
        <translation>Die eingereihten Dateien mit Dauer und Größe. Die Zeile einer umgewandelten Datei wird grün, die einer fehlgeschlagenen rot, und ihr Tooltip nennt den Grund.</translation>
    </message>
    <message>
        <source>File Name</source>
        <translation>Dateiname</translation>
    </message>
    <message>
        <source>Duration</source>
        <translation>Dauer</translation>
    </message>
    <message>
        <source>File Size</source>
        <translation>Dateigröße</translation>
    </message>
    <message>
        <source>&amp;Add Input File...</source>
        <translation>Dateien &amp;hinzufügen...</translation>
    </message>
    <message>
        <source>&amp;Remove Selected</source>
        <translation>Auswahl &amp;entfernen</translation>
    </message>
    <message>
        <source>&amp;Help</source>
        <translation>H&amp;ilfe</translation>
    </message>
    <message>
        <source>&amp;Output Folder:</source>
        <translation>&amp;Ausgabeordner:</translation>
    </message>
    <message>
        <source>Output folder</source>
        <translation>Ausgabeordner</translation>
    </message>
    <message>
        <source>The folder the MP3 files are written to. Browse changes it.</source>
        <translation>Der Ordner, in den die MP3-Dateien geschrieben werden. „Durchsuchen“ ändert ihn.</translation>
    </message>
    <message>
        <source>&amp;Browse...</source>
        <translation>&amp;Durchsuchen...</translation>
    </message>
    <message>
        <source>Smallest Size</source>
        <translation>Kleinste Größe</translation>
    </message>
    <message>
        <source>Quality</source>
        <translation>Qualität</translation>
    </message>
    <message>
        <source>From Smallest Size at the left to Highest Quality at the right</source>
        <translation>Von „Kleinste Größe“ links bis „Beste Qualität“ rechts</translation>
    </message>
    <message>
        <source>Highest Quality</source>
        <translation>Beste Qualität</translation>
    </message>
    <message>
        <source>&amp;Shutdown Computer After Finishing Conversion</source>
        <translation>Computer nach der Umwandlung he&amp;runterfahren</translation>
    </message>
    <message>
        <source>&amp;Convert File(s)</source>
        <translation>Dateien &amp;umwandeln</translation>
    </message>
    <message>
        <source>Conversion progress</source>
        <translation>Fortschritt der Umwandlung</translation>
    </message>
    <message>
        <source>How much of the queued files has been converted</source>
        <translation>Wie viel der eingereihten Dateien schon umgewandelt ist</translation>
    </message>
    <message>
        <source>Couldn&apos;t estimate duration</source>
        <translation>Dauer nicht ermittelbar</translation>
    </message>
    <message>
        <source>All Sound Files (%1)</source>
        <translation>Alle Audiodateien (%1)</translation>
    </message>
    <message>
        <source>All Files (*)</source>
        <translation>Alle Dateien (*)</translation>
    </message>
    <message>
        <source>Duplicate Files</source>
        <translation>Doppelte Dateien</translation>
    </message>
    <message>
        <source>The following files already exist in the list and will not be added:
%1</source>
        <translation>Die folgenden Dateien sind schon in der Liste und werden nicht hinzugefügt:
%1</translation>
    </message>
    <message>
        <source>Files Skipped</source>
        <translation>Dateien übersprungen</translation>
    </message>
    <message>
        <source>Measuring the files to add...</source>
        <translation>Die Dauer der hinzuzufügenden Dateien wird ermittelt...</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Adding Files</source>
        <translation>Dateien werden hinzugefügt</translation>
    </message>
    <message>
        <source>Output Directory</source>
        <translation>Ausgabeordner</translation>
    </message>
    <message>
        <source>Help Not Available</source>
        <translation>Hilfe nicht verfügbar</translation>
    </message>
    <message>
        <source>No program on this computer could open the help.

The help files are in %1: open help/index.html in a web browser, or help.chm in a CHM viewer such as xchm.</source>
        <translation>Kein Programm auf diesem Computer konnte die Hilfe öffnen.

Die Hilfedateien liegen in %1: Öffnen Sie help/index.html in einem Webbrowser oder help.chm in einem CHM-Betrachter wie xchm.</translation>
    </message>
    <message>
        <source>File Exists</source>
        <translation>Datei vorhanden</translation>
    </message>
    <message>
        <source>File: %1 exists in the output directory!
Would you like to overwrite it?</source>
        <translation>Datei: %1 ist im Ausgabeordner schon vorhanden!
Möchten Sie sie überschreiben?</translation>
    </message>
    <message>
        <source>Overwrite</source>
        <translation>Überschreiben</translation>
    </message>
    <message>
        <source>Ignore</source>
        <translation>Ignorieren</translation>
    </message>
    <message>
        <source>%1: %2</source>
        <translation>%1: %2</translation>
    </message>
    <message>
        <source>%1
Converted to %2</source>
        <translation>%1
Umgewandelt in %2</translation>
    </message>
    <message>
        <source>%1
Failed: %2</source>
        <translation>%1
Fehlgeschlagen: %2</translation>
    </message>
    <message>
        <source>%1, converted</source>
        <translation>%1, umgewandelt</translation>
    </message>
    <message>
        <source>%1, failed</source>
        <translation>%1, fehlgeschlagen</translation>
    </message>
    <message>
        <source>Completed converting the selected files!</source>
        <translation>Die Umwandlung der ausgewählten Dateien ist abgeschlossen!</translation>
    </message>
    <message>
        <source>Conversion Completed!</source>
        <translation>Umwandlung abgeschlossen!</translation>
    </message>
    <message>
        <source>New Conversion</source>
        <translation>Neue Umwandlung</translation>
    </message>
    <message>
        <source>Exit</source>
        <translation>Beenden</translation>
    </message>
    <message numerus="yes">
        <source>%n file(s) in the added folders are not audio files and were not added:
%1</source>
        <translation>
            <numerusform>%n Datei in den hinzugefügten Ordnern ist keine Audiodatei und wurde nicht hinzugefügt:
%1</numerusform>
            <numerusform>%n Dateien in den hinzugefügten Ordnern sind keine Audiodateien und wurden nicht hinzugefügt:
%1</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>and %n more</source>
        <translation>
            <numerusform>und %n weitere</numerusform>
            <numerusform>und %n weitere</numerusform>
        </translation>
    </message>
    <message>
        <source>It would be replaced by the conversion of %1.</source>
        <translation>Sie würde durch die Umwandlung von %1 ersetzt.</translation>
    </message>
    <message>
        <source>Do the same for every existing file in this run</source>
        <translation>Für alle vorhandenen Dateien dieser Umwandlung ebenso verfahren</translation>
    </message>
    <message>
        <source>%1: converted; %2</source>
        <translation>%1: umgewandelt; %2</translation>
    </message>
    <message>
        <source>%1
Kept: %2</source>
        <translation>%1
Behalten: %2</translation>
    </message>
    <message>
        <source>%1, kept</source>
        <translation>%1, behalten</translation>
    </message>
    <message>
        <source>No file was converted.</source>
        <translation>Keine Datei wurde umgewandelt.</translation>
    </message>
    <message>
        <source>The following files failed to be converted:
%1</source>
        <translation>Die folgenden Dateien konnten nicht umgewandelt werden:
%1</translation>
    </message>
    <message numerus="yes">
        <source>%n file(s) kept as they were, since their MP3 already exists.</source>
        <translation>
            <numerusform>%n Datei unverändert behalten, da ihre MP3-Datei schon vorhanden ist.</numerusform>
            <numerusform>%n Dateien unverändert behalten, da ihre MP3-Dateien schon vorhanden sind.</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>ToolProcess</name>
    <message>
        <source>the encoder tool %1 could not be started (%2)</source>
        <translation>das Kodierprogramm %1 konnte nicht gestartet werden (%2)</translation>
    </message>
    <message>
        <source>the encoder tool failed without giving a reason (exit code %1)</source>
        <translation>das Kodierprogramm schlug ohne Angabe eines Grundes fehl (Exit-Code %1)</translation>
    </message>
    <message>
        <source>the encoder tool did not report a finished MP3</source>
        <translation>das Kodierprogramm hat keine fertige MP3-Datei gemeldet</translation>
    </message>
    <message>
        <source>the encoder tool was ended by signal %1</source>
        <translation>das Kodierprogramm wurde durch das Signal %1 beendet</translation>
    </message>
</context>
</TS>
