#pragma once

#include "model/error_text.h"

#include <ostream>

// Lets a failed check on an Error show its code and the text the user would read.
inline void PrintTo(const Error &error, std::ostream *os)
{
    *os << "Error(" << static_cast<int>(error.code) << ": " << errorText(error).toStdString()
        << ")";
}

// Texts in failed checks read as text, not as arrays of characters.
inline void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}
