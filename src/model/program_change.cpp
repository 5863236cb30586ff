#include "model/program_change.h"

#include "model/ctarvelon.h"
#include "model/field_access.h"

namespace
{

// Warning limits and descriptions live in the database, not in the controller's program.
bool isDatabaseField(const QString &name)
{
    return name.endsWith(QLatin1String(".SW_UntereWarnung")) ||
           name.endsWith(QLatin1String(".SW_ObereWarnung")) ||
           name.endsWith(QLatin1String(".beschreibung"));
}

void apply(cTarvelon &t, const FieldChanges &changes, bool databaseFields)
{
    for (const auto &[name, value] : changes)
        if (isDatabaseField(name) == databaseFields)
            setControllerField(t, name, value);
}

} // namespace

ProgramChange changeProgram(cTarvelon &controller, const FieldChanges &changes)
{
    using Outcome = ProgramChange::Outcome;
    ProgramChange result;
    // The scratch copy has no database, so checking it there writes nothing.
    cTarvelon scratch(controller.clock(), controller.progress(), controller.interaction());
    scratch.set_HydoProgramString(controller.HydoProgramString());
    scratch.setKalibController(controller.kalibController());
    for (const auto &[name, value] : changes) {
        if (const Error refused = setControllerField(scratch, name, value); !refused.ok()) {
            result.error = refused;
            result.outcome = Outcome::Refused;
            return result;
        }
    }

    // Checked above, so these cannot be refused now.
    apply(controller, changes, false);
    if (controller.programming_is_dirty()) {
        result.error = controller.check_programing(true);
        if (!result.error.ok()) {
            result.outcome = Outcome::WriteFailed;
            return result;
        }
        result.written = true;
    }
    apply(controller, changes, true);
    return result;
}
