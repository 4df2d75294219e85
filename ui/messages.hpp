#pragma once

#include <QString>

// Every text that a message box shows, in one place: the main window and the new-recipe
// dialog share some of them, and they must read the same wherever they appear.
namespace quendelin::Messages {

inline QString libraryUpdated() {
    return QStringLiteral("Die Bibliothek wurde aktualisiert.");
}

inline QString noConnection() {
    return QStringLiteral(
        "Es konnte keine Verbindung zum Server hergestellt werden.\n"
        "Überprüfen Sie Ihre Internetverbindung und versuchen Sie es noch einmal.");
}

inline QString nameTaken() {
    return QStringLiteral("Es ist schon ein Rezept mit diesem Namen vorhanden,\n"
                          "ändern Sie den Rezept-Namen und probieren Sie es noch einmal.");
}

inline QString recipeUploaded() {
    return QStringLiteral("Das Rezept wurde erstellt und ins Internet geladen!");
}

inline QString recipeNotSaved() {
    return QStringLiteral("Das Rezept konnte nicht gespeichert werden.\n"
                          "Ändern Sie den Rezept-Namen und probieren Sie es noch einmal.");
}

inline QString recipeNotUploaded() {
    return QStringLiteral(
        "Das Rezept konnte nicht ins Internet geladen werden.\n"
        "Überprüfen Sie Ihre Internetverbindung und versuchen Sie es noch einmal.");
}

} // namespace quendelin::Messages
