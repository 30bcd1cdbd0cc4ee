<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="fr">
<context>
    <name>AddDialog</name>
    <message>
        <source>Add File(s)</source>
        <translation>Ajouter des fichiers</translation>
    </message>
    <message>
        <source>&amp;Add</source>
        <translation>&amp;Ajouter</translation>
    </message>
    <message>
        <source>Files or folder:</source>
        <translation>Fichiers ou dossier&#xa0;:</translation>
    </message>
</context>
<context>
    <name>CommandLine</name>
    <message>
        <source>Files Not Added</source>
        <translation>Fichiers non ajoutés</translation>
    </message>
    <message>
        <source>These names are not readable files or folders and were not added:
%1</source>
        <translation>Ces noms ne sont pas des fichiers ou des dossiers lisibles et n’ont pas été ajoutés&#xa0;:
%1</translation>
    </message>
    <message>
        <source>Converts audio files to MP3. The files given are queued for conversion; a folder adds the audio files below it, and their MP3 files keep its tree below the output folder.</source>
        <translation>Convertit des fichiers audio en MP3. Les fichiers indiqués sont mis en file d’attente pour la conversion&#xa0;; un dossier ajoute les fichiers audio qu’il contient, et leurs fichiers MP3 gardent son arborescence dans le dossier de sortie.</translation>
    </message>
    <message>
        <source>Audio files or folders to queue.</source>
        <translation>Fichiers audio ou dossiers à mettre en file d’attente.</translation>
    </message>
</context>
<context>
    <name>ConversionThread</name>
    <message numerus="yes">
        <source>the encoder tool wrote nothing for %n second(s) and was stopped</source>
        <translation>
            <numerusform>l’outil d’encodage n’a rien écrit pendant %n seconde et a été arrêté</numerusform>
            <numerusform>l’outil d’encodage n’a rien écrit pendant %n secondes et a été arrêté</numerusform>
        </translation>
    </message>
    <message>
        <source>the folder %1 could not be made</source>
        <translation>le dossier %1 n’a pas pu être créé</translation>
    </message>
    <message>
        <source>%1 was not written by this program and was left as it is</source>
        <translation>%1 n’a pas été écrit par ce programme et a été laissé tel quel</translation>
    </message>
    <message>
        <source>the playlist %1 could not be written</source>
        <translation>la liste de lecture %1 n’a pas pu être écrite</translation>
    </message>
    <message>
        <source>kept the existing %1</source>
        <translation>le fichier existant %1 a été conservé</translation>
    </message>
    <message>
        <source>the output folder %1 does not exist</source>
        <translation>le dossier de sortie %1 n’existe pas</translation>
    </message>
    <message>
        <source>%1: the album gain could not be written: %2</source>
        <translation>%1&#xa0;: le gain d’album n’a pas pu être écrit&#xa0;: %2</translation>
    </message>
</context>
<context>
    <name>DesktopSession</name>
    <message>
        <source>Converting audio files to MP3</source>
        <translation>Conversion de fichiers audio en MP3</translation>
    </message>
    <message>
        <source>Conversion completed</source>
        <translation>Conversion terminée</translation>
    </message>
    <message numerus="yes">
        <source>%n file(s) converted.</source>
        <translation>
            <numerusform>%n fichier converti.</numerusform>
            <numerusform>%n fichiers convertis.</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n file(s) failed, %1 converted.</source>
        <translation>
            <numerusform>%n fichier en échec, %1 converti(s).</numerusform>
            <numerusform>%n fichiers en échec, %1 converti(s).</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n file(s) kept as they were, %1 converted.</source>
        <translation>
            <numerusform>%n fichier conservé tel quel, %1 converti(s).</numerusform>
            <numerusform>%n fichiers conservés tels quels, %1 converti(s).</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n file(s) failed, %1 kept as they were, %2 converted.</source>
        <translation>
            <numerusform>%n fichier en échec, %1 conservé(s) tel(s) quel(s), %2 converti(s).</numerusform>
            <numerusform>%n fichiers en échec, %1 conservé(s) tel(s) quel(s), %2 converti(s).</numerusform>
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
        <translation>Morvane convertit des fichiers audio en MP3.</translation>
    </message>
    <message>
        <source>Files to convert</source>
        <translation>Fichiers à convertir</translation>
    </message>
    <message>
        <source>The queued files with their duration and size. The row of a converted file turns green, the row of a failed file red, and its tool tip says why.</source>
        <translation>Les fichiers en file d’attente, avec leur durée et leur taille. La ligne d’un fichier converti devient verte, celle d’un fichier en échec rouge, et son info-bulle en donne la raison.</translation>
    </message>
    <message>
        <source>File Name</source>
        <translation>Nom du fichier</translation>
    </message>
    <message>
        <source>Duration</source>
        <translation>Durée</translation>
    </message>
    <message>
        <source>File Size</source>
        <translation>Taille</translation>
    </message>
    <message>
        <source>&amp;Add Input File...</source>
        <translation>&amp;Ajouter des fichiers...</translation>
    </message>
    <message>
        <source>&amp;Remove Selected</source>
        <translation>&amp;Retirer la sélection</translation>
    </message>
    <message>
        <source>&amp;Help</source>
        <translation>Ai&amp;de</translation>
    </message>
    <message>
        <source>&amp;Output Folder:</source>
        <translation>Dossier de &amp;sortie&#xa0;:</translation>
    </message>
    <message>
        <source>Output folder</source>
        <translation>Dossier de sortie</translation>
    </message>
    <message>
        <source>The folder the MP3 files are written to. Browse changes it.</source>
        <translation>Le dossier où les fichiers MP3 sont écrits. «&#xa0;Parcourir&#xa0;» le change.</translation>
    </message>
    <message>
        <source>&amp;Browse...</source>
        <translation>&amp;Parcourir...</translation>
    </message>
    <message>
        <source>Smallest Size</source>
        <translation>Taille minimale</translation>
    </message>
    <message>
        <source>Quality</source>
        <translation>Qualité</translation>
    </message>
    <message>
        <source>From Smallest Size at the left to Highest Quality at the right</source>
        <translation>De «&#xa0;Taille minimale&#xa0;» à gauche à «&#xa0;Qualité maximale&#xa0;» à droite</translation>
    </message>
    <message>
        <source>Highest Quality</source>
        <translation>Qualité maximale</translation>
    </message>
    <message>
        <source>&amp;Shutdown Computer After Finishing Conversion</source>
        <translation>É&amp;teindre l’ordinateur après la conversion</translation>
    </message>
    <message>
        <source>&amp;Convert File(s)</source>
        <translation>&amp;Convertir les fichiers</translation>
    </message>
    <message>
        <source>Conversion progress</source>
        <translation>Progression de la conversion</translation>
    </message>
    <message>
        <source>How much of the queued files has been converted</source>
        <translation>La part des fichiers en file d’attente déjà convertie</translation>
    </message>
    <message>
        <source>Couldn&apos;t estimate duration</source>
        <translation>Durée impossible à estimer</translation>
    </message>
    <message>
        <source>All Sound Files (%1)</source>
        <translation>Tous les fichiers audio (%1)</translation>
    </message>
    <message>
        <source>All Files (*)</source>
        <translation>Tous les fichiers (*)</translation>
    </message>
    <message>
        <source>Duplicate Files</source>
        <translation>Fichiers en double</translation>
    </message>
    <message>
        <source>The following files already exist in the list and will not be added:
%1</source>
        <translation>Les fichiers suivants sont déjà dans la liste et ne seront pas ajoutés&#xa0;:
%1</translation>
    </message>
    <message>
        <source>Files Skipped</source>
        <translation>Fichiers ignorés</translation>
    </message>
    <message>
        <source>Measuring the files to add...</source>
        <translation>Mesure de la durée des fichiers à ajouter...</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Annuler</translation>
    </message>
    <message>
        <source>Adding Files</source>
        <translation>Ajout de fichiers</translation>
    </message>
    <message>
        <source>Output Directory</source>
        <translation>Dossier de sortie</translation>
    </message>
    <message>
        <source>Help Not Available</source>
        <translation>Aide non disponible</translation>
    </message>
    <message>
        <source>No program on this computer could open the help.

The help files are in %1: open help/index.html in a web browser, or help.chm in a CHM viewer such as xchm.</source>
        <translation>Aucun programme de cet ordinateur n’a pu ouvrir l’aide.

Les fichiers d’aide se trouvent dans %1&#xa0;: ouvrez help/index.html dans un navigateur web, ou help.chm dans un lecteur CHM comme xchm.</translation>
    </message>
    <message>
        <source>File Exists</source>
        <translation>Fichier existant</translation>
    </message>
    <message>
        <source>File: %1 exists in the output directory!
Would you like to overwrite it?</source>
        <translation>Fichier&#xa0;: %1 existe déjà dans le dossier de sortie&#xa0;!
Voulez-vous le remplacer&#xa0;?</translation>
    </message>
    <message>
        <source>Overwrite</source>
        <translation>Remplacer</translation>
    </message>
    <message>
        <source>Ignore</source>
        <translation>Ignorer</translation>
    </message>
    <message>
        <source>%1: %2</source>
        <translation>%1&#xa0;: %2</translation>
    </message>
    <message>
        <source>%1
Converted to %2</source>
        <translation>%1
Converti en %2</translation>
    </message>
    <message>
        <source>%1
Failed: %2</source>
        <translation>%1
Échec&#xa0;: %2</translation>
    </message>
    <message>
        <source>%1, converted</source>
        <translation>%1, converti</translation>
    </message>
    <message>
        <source>%1, failed</source>
        <translation>%1, en échec</translation>
    </message>
    <message>
        <source>Completed converting the selected files!</source>
        <translation>La conversion des fichiers sélectionnés est terminée&#xa0;!</translation>
    </message>
    <message>
        <source>Conversion Completed!</source>
        <translation>Conversion terminée&#xa0;!</translation>
    </message>
    <message>
        <source>New Conversion</source>
        <translation>Nouvelle conversion</translation>
    </message>
    <message>
        <source>Exit</source>
        <translation>Quitter</translation>
    </message>
    <message numerus="yes">
        <source>%n file(s) in the added folders are not audio files and were not added:
%1</source>
        <translation>
            <numerusform>%n fichier des dossiers ajoutés n’est pas un fichier audio et n’a pas été ajouté&#xa0;:
%1</numerusform>
            <numerusform>%n fichiers des dossiers ajoutés ne sont pas des fichiers audio et n’ont pas été ajoutés&#xa0;:
%1</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>and %n more</source>
        <translation>
            <numerusform>et %n autre</numerusform>
            <numerusform>et %n autres</numerusform>
        </translation>
    </message>
    <message>
        <source>It would be replaced by the conversion of %1.</source>
        <translation>Il serait remplacé par la conversion de %1.</translation>
    </message>
    <message>
        <source>Do the same for every existing file in this run</source>
        <translation>Faire de même pour tous les fichiers existants de cette conversion</translation>
    </message>
    <message>
        <source>%1: converted; %2</source>
        <translation>%1&#xa0;: converti&#xa0;; %2</translation>
    </message>
    <message>
        <source>%1
Kept: %2</source>
        <translation>%1
Conservé&#xa0;: %2</translation>
    </message>
    <message>
        <source>%1, kept</source>
        <translation>%1, conservé</translation>
    </message>
    <message>
        <source>No file was converted.</source>
        <translation>Aucun fichier n’a été converti.</translation>
    </message>
    <message>
        <source>The following files failed to be converted:
%1</source>
        <translation>Les fichiers suivants n’ont pas pu être convertis&#xa0;:
%1</translation>
    </message>
    <message numerus="yes">
        <source>%n file(s) kept as they were, since their MP3 already exists.</source>
        <translation>
            <numerusform>%n fichier conservé tel quel, car son MP3 existe déjà.</numerusform>
            <numerusform>%n fichiers conservés tels quels, car leur MP3 existe déjà.</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>ToolProcess</name>
    <message>
        <source>the encoder tool %1 could not be started (%2)</source>
        <translation>l’outil d’encodage %1 n’a pas pu être lancé (%2)</translation>
    </message>
    <message>
        <source>the encoder tool failed without giving a reason (exit code %1)</source>
        <translation>l’outil d’encodage a échoué sans donner de raison (code de sortie %1)</translation>
    </message>
    <message>
        <source>the encoder tool did not report a finished MP3</source>
        <translation>l’outil d’encodage n’a pas signalé de MP3 terminé</translation>
    </message>
    <message>
        <source>the encoder tool was ended by signal %1</source>
        <translation>l’outil d’encodage a été arrêté par le signal %1</translation>
    </message>
</context>
</TS>
