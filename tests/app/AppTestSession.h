#pragma once
// The session bus and home folder of the whole app_tests process. The store,
// the settings and the bus connection are made once per process and keep the
// home and bus they first saw, so every test case uses these same two, whether
// ctest runs each case in a process of its own or a developer runs them all in one.
#include <QFile>
#include <utility>

#include "KLCoreDataHelper.h"
#include "KLDataBuilder.h"
#include "KLDataManager.h"
#include "KLFanCondition.h"
#include "KLFanSet.h"
#include "KLMainStoryboard.h"
#include "NSStoryboard.h"
#include "PrivateBus.h"
#include "RZSMC.h"
#include "TestHome.h"

struct AppTestSession {
    PrivateBus bus;  // first: everything after it uses this bus
    TestHome home;
};

inline AppTestSession& appTestSession()
{
    static AppTestSession session;
    return session;
}

// Every case starts without the fan control tool, whatever a case before it
// installed in the shared home.
inline void removeInstalledTool()
{
    QFile::remove(RZSMC::smcToolPath());
}

// Fan rules as a fresh home has them: only the first start's fan set, no
// conditions, the system in control, and no tool.
inline void startWithoutFanRules()
{
    removeInstalledTool();
    NSManagedObjectContext* context = KLCoreDataHelper::sharedInstance().masterContext();
    for (KLFanCondition* condition : KLFanCondition::allObjects())
        context->deleteObject(condition);
    for (KLFanSet* set : KLFanSet::allObjects())
        context->deleteObject(set);
    KLCoreDataHelper::sharedInstance().saveMasterContext();
    KLDataBuilder::generateFanSets();  // the first start's "Manual"
    KLCoreDataHelper::sharedInstance().saveMasterContext();
    KLDataManager& settings = KLDataManager::sharedInstance();
    settings.setFanControlMode(KLFanControlModeSystem);
    settings.setFanSetName(QString());
    settings.setDidAutoBoost(false);
}

// A stand-in made for a storyboard identifier while the object lives; then the
// program's own class again, so no later case gets a stand-in of a case gone.
template <class ProgramsOwn>
class StoryboardStandIn {
public:
    StoryboardStandIn(QString identifier, NSStoryboard::ControllerFactory standIn)
        : m_identifier(std::move(identifier))
    {
        KLMainStoryboard::storyboard().registerController(m_identifier, std::move(standIn));
    }
    ~StoryboardStandIn()
    {
        KLMainStoryboard::storyboard().registerController(m_identifier, [] { return new ProgramsOwn; });
    }
    StoryboardStandIn(const StoryboardStandIn&) = delete;
    StoryboardStandIn& operator=(const StoryboardStandIn&) = delete;

private:
    QString m_identifier;
};
