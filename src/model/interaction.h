#pragma once

#include <QString>

// The message boxes a controller operation shows. The core asks; the desktop program
// answers with a real box on the UI thread, ostracom-cli by its documented rules, tests
// by script.
class Interaction
{
public:
    // Which question is asked. Answers by rule go by this, never by the text, which
    // changes with the language and with every edit of a translation.
    enum class Question {
        ClockTakeover,      // take over the controller's program, clock included
        CalibrationDiffers, // controller and database hold different calibrations
        StartProgramming,   // write the changed program to the controller
        NewController,      // a controller without identifier: program it now
        RemoveController,   // take a controller off the list
        ExitProgram,        // close the program
        ReplaceSmsTable,    // replace the SMS configuration table from a file or the device
    };
    enum class Buttons { Ok, OkCancel, YesNo };
    enum class Answer { Ok, Cancel, Yes, No };
    enum class Icon { None, Information, Question, Warning, Exclamation };

    virtual ~Interaction() = default;
    // A question with the given buttons; the first button is the default.
    virtual Answer ask(Question question, const QString &text, const QString &title,
                       Buttons buttons, Icon icon = Icon::Question) = 0;
    // A message with an OK button only.
    virtual void tell(const QString &text, const QString &title, Icon icon) = 0;
};
