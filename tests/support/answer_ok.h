#pragma once

#include "model/interaction.h"

// Agrees to every question (OK, or Yes where the buttons are Yes and No) and swallows
// messages: for tests whose point lies elsewhere.
class AnswerOk : public Interaction
{
public:
    Answer ask(Question, const QString &, const QString &, Buttons b, Icon) override
    {
        return b == Buttons::YesNo ? Answer::Yes : Answer::Ok;
    }
    void tell(const QString &, const QString &, Icon) override {}
};
