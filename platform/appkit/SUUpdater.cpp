#include "SUUpdater.h"

SUUpdater& SUUpdater::sharedUpdater()
{
    static SUUpdater updater;
    return updater;
}
