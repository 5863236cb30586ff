#pragma once

#include "link/error.h"

#include <QString>
#include <QStringList>

#include <optional>

class cTarvelon;

// Controller and regulation fields by name, as ostracom-cli and the programming dialog's
// generic inputs reach them: "aq_hd_ph", "aq_Datum_Uhrzeit", "Regelung(2,1).RW_ObererAlarm",
// "Regelung(2,1).SW_ObereWarnung", "Regelung(2,1).beschreibung".

// Every name, with "Regelung(S,R)." standing for each sensor and regulation.
QStringList controllerFieldNames();
// The field's value as text, or nothing for a name that is no field.
std::optional<QString> controllerFieldText(cTarvelon &t, const QString &name);
// "aq_hd_ph=7.25" given as name and value. Checks first and changes nothing when the name or
// the value does not fit; the error (code Other) then says why.
Error setControllerField(cTarvelon &t, const QString &name, const QString &value);
