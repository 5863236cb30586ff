#pragma once

#include "link/error.h"
#include "model/outcome.h"

#include <QString>

// The text shown for an error, in the language selected now; empty for no error. The link
// only hands on codes: the words belong to whoever shows them.
QString errorText(const Error &error);
// The same for an outcome; a declined question reads as what the user refused.
QString errorText(const Outcome &outcome);
