// The strings GetMethodName hands out go back on every road, name first, then signature,
// then generic signature, null or not; only a name the history keeps stays.
#include "handler_scene.h"

using namespace fake;

namespace {

struct Road {
    const char* label;
    const char* methodName;
    int cls;   // 0: java/lang/Object, 1: java/lang/Thread, 2: java/util/regex/Matcher
    std::function<bool(FakeJvm&, ObjectId a, jmethodID method)> deliver;
    std::vector<const char*> givenBack;   // "monitors", "name", "signature", "generic"
};

class MethodStringsTest : public HandlerTest, public ::testing::WithParamInterface<bool> {
protected:
    ObjectId a = fk.newThread("A");
    ObjectId b = fk.newThread("B");
    ObjectId w = fk.newThread("W");
    ObjectId loner = fk.newThread("N");   // never gets a uid
    ObjectId lock = fk.newObject("lock");
};

TEST_P(MethodStringsTest, GivenBackInOrderOnEveryRoad) {
    const bool withGeneric = GetParam();
    ObjectId matcher = fk.newClass("java/util/regex/Matcher", NO_OBJECT);
    auto entry = [](Frame frame) {
        return [frame](FakeJvm& f, ObjectId t, jmethodID m) { return f.methodEntry(t, m, frame); };
    };
    auto exit = [](FakeJvm& f, ObjectId t, jmethodID m) { return f.methodExit(t, m); };
    const Road roads[] = {
        {"ordinary entry", "run", 1, entry(Frame()), {"name", "signature", "generic"}},
        {"beforeAdvice entry", "beforeAdvice", 0, entry(Frame().withInt(1, 9)), {"name", "signature", "generic"}},
        {"afterAdvice entry", "afterAdvice", 0, entry(Frame().withInt(1, 0)), {"name", "signature", "generic"}},
        {"notify entry without uid", "notify", 0, [&](FakeJvm& f, ObjectId, jmethodID m) { return f.methodEntry(loner, m); },
         {"name", "signature", "generic"}},
        {"notifyAll entry with uid", "notifyAll", 0, entry(Frame()), {"monitors", "name", "signature", "generic"}},
        {"Thread.start entry handing over", "start", 1, entry(Frame().withObject(0, b)), {"signature", "generic"}},
        {"static Thread start entry", "start", 1, entry(Frame().withInt(0, 80)), {"name", "signature", "generic"}},
        {"Matcher.start entry", "start", 2, entry(Frame()), {"name", "signature", "generic"}},
        {"ordinary exit", "run", 1, exit, {"name", "signature", "generic"}},
        {"Thread.start exit", "start", 1, exit, {"name", "signature", "generic"}},
        {"notify exit without uid", "notify", 0, [&](FakeJvm& f, ObjectId, jmethodID m) { return f.methodExit(loner, m); },
         {"name", "signature", "generic"}},
        {"notify exit waking nobody", "notify", 0, exit, {"monitors", "name", "signature", "generic"}},
        {"notify exit waking W", "notify", 0,
         [&](FakeJvm& f, ObjectId t, jmethodID m) {
             f.setNotifyWaiters(lock, {w});
             f.methodEntry(t, notify);
             f.setNotifyWaiters(lock, {});
             f.clearCalls();
             return f.methodExit(t, m);
         },
         {"monitors", "signature", "generic"}},
    };
    giveUid(a, 7);
    fk.setOwner(lock, a);
    for (const Road& road : roads) {
        SCOPED_TRACE(road.label);
        fk.threadStart(fk.newThread("T"));   // method events on, whatever the road before did
        const ObjectId classes[] = {fk.objectClass(), fk.threadClass(), matcher};
        std::optional<std::string> generic;
        if (withGeneric) generic = "<T:Ljava/lang/Object;>()V";
        jmethodID method = fk.newMethod(road.methodName, classes[road.cls], generic);
        fk.clearCalls();
        ASSERT_TRUE(road.deliver(fk, a, method));
        std::vector<std::string> expected;
        for (std::string kind : road.givenBack) {
            if (kind == "monitors") expected.push_back("Deallocate(monitors:A)");
            else if (kind == "generic" && !withGeneric) expected.push_back("Deallocate(null)");
            else expected.push_back("Deallocate(" + kind + ":" + road.methodName + ")");
        }
        std::vector<std::string> actual;
        for (const std::string& call : fk.callsOf("Deallocate")) {
            if (call.find("waiters:") == std::string::npos) actual.push_back(call);
        }
        EXPECT_EQ(actual, expected);
        expectClean();
    }
}

INSTANTIATE_TEST_SUITE_P(GenericSignature, MethodStringsTest, ::testing::Values(false, true),
                         [](const auto& p) { return std::string(p.param ? "Present" : "Null"); });

}  // namespace
