#include "common/win32.h"

#include "common/run_turn.h"
#include "driver/conversion.h"
#include "driver/delivery.h"
#include "driver/run.h"

namespace {

const DWORD kRunWaitMilliseconds = 10 * 60 * 1000;

} // namespace

int RunVellumTransit() {
    RunTurn turn;
    if (OpenRunTurn(&turn))
        WaitRunTurn(&turn, kRunWaitMilliseconds);
    if (!turn.owned) {
        printf("Another run is still working.\n");
        return 0;
    }
    if (RunConversionStage() == CONVERSION_DELIVER)
        RunDeliveryStage();
    return 0;
}
