#pragma once

#include <QString>

#include <gtest/gtest.h>

// EXPECT_TRUE(holds(text, part)): a failure shows both, so a check needs no message of its own.
inline ::testing::AssertionResult holds(const QString &text, const QString &part)
{
    if (text.contains(part))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << '"' << part.toStdString() << "\" is not in \"" << text.toStdString() << '"';
}
