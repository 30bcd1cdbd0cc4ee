<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en">
<context>
    <name>ConversionThread</name>
    <message numerus="yes">
        <source>the encoder tool wrote nothing for %n second(s) and was stopped</source>
        <translation>
            <numerusform>the encoder tool wrote nothing for %n second and was stopped</numerusform>
            <numerusform>the encoder tool wrote nothing for %n seconds and was stopped</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>DesktopSession</name>
    <message numerus="yes">
        <source>%n file(s) converted.</source>
        <translation>
            <numerusform>%n file converted.</numerusform>
            <numerusform>%n files converted.</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n file(s) failed, %1 converted.</source>
        <translation>
            <numerusform>%n file failed, %1 converted.</numerusform>
            <numerusform>%n files failed, %1 converted.</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n file(s) kept as they were, %1 converted.</source>
        <translation>
            <numerusform>%n file kept as it was, %1 converted.</numerusform>
            <numerusform>%n files kept as they were, %1 converted.</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n file(s) failed, %1 kept as they were, %2 converted.</source>
        <translation>
            <numerusform>%n file failed, %1 kept as they were, %2 converted.</numerusform>
            <numerusform>%n files failed, %1 kept as they were, %2 converted.</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message numerus="yes">
        <source>%n file(s) in the added folders are not audio files and were not added:
%1</source>
        <translation>
            <numerusform>%n file in the added folders is not an audio file and was not added:
%1</numerusform>
            <numerusform>%n files in the added folders are not audio files and were not added:
%1</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>and %n more</source>
        <translation>
            <numerusform>and %n more</numerusform>
            <numerusform>and %n more</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n file(s) kept as they were, since their MP3 already exists.</source>
        <translation>
            <numerusform>%n file kept as it was, since its MP3 already exists.</numerusform>
            <numerusform>%n files kept as they were, since their MP3 already exists.</numerusform>
        </translation>
    </message>
</context>
</TS>
