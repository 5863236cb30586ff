#pragma once

#include <QString>

// The message boxes a controller operation shows. The core asks; the desktop program
// answers with a real box on the UI thread, ostracom-cli by its documented rules, tests
// by script.
class Interaction
{
public:
    enum class Buttons { Ok, OkCancel, YesNo };
    enum class Answer { Ok, Cancel, Yes, No };
    enum class Icon { None, Information, Question, Warning, Exclamation };

    virtual ~Interaction() = default;
    // A question with the given buttons; the first button is the default.
    virtual Answer ask(const QString &text, const QString &title, Buttons buttons,
                       Icon icon = Icon::Question) = 0;
    // A message with an OK button only.
    virtual void tell(const QString &text, const QString &title, Icon icon) = 0;
};
