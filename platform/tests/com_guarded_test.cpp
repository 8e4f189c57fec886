#include "platform/com/com_object.h"
#include "platform/com/com_ptr.h"
#include "platform/com/guarded.h"

#include <gtest/gtest.h>
#include <new>
#include <stdexcept>

namespace {

// An object whose constructor fails, as a server object's may.
class Unbuildable : public platform::com::ComObject<Unbuildable, IUnknown> {
public:
    Unbuildable() { throw std::runtime_error("no room for the stations list"); }
};

}  // namespace

TEST(ComGuarded, ExceptionsBecomeCodesAndOtherResultsPassThrough) {
    using platform::com::guarded;
    EXPECT_EQ(guarded("Ok", [] { return S_FALSE; }), S_FALSE);
    EXPECT_EQ(guarded("Alloc", []() -> HRESULT { throw std::bad_alloc(); }), E_OUTOFMEMORY);
    EXPECT_EQ(guarded("Runtime", []() -> HRESULT { throw std::runtime_error("x"); }), E_FAIL);
    EXPECT_EQ(guarded("Other", []() -> HRESULT { throw 7; }), E_FAIL);
}

TEST(ComGuarded, TracesTheEntryAndTheCode) {
    testing::internal::CaptureStderr();
    platform::com::guarded("CThing::DoIt", []() -> HRESULT { throw std::runtime_error("disk gone"); });
    const std::string trace = testing::internal::GetCapturedStderr();
    EXPECT_NE(trace.find("CThing::DoIt: exception disk gone, returning 0x80004005"), std::string::npos)
        << trace;
}

TEST(ComGuarded, ClassFactoryAnswersAThrowingConstructorWithACode) {
    platform::com::ComPtr<IClassFactory> factory;
    ASSERT_EQ(platform::com::ClassFactory<Unbuildable>::createInstance(IID_IClassFactory, factory.putVoid()),
              S_OK);
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, &object), E_FAIL);
    EXPECT_EQ(object, nullptr);
}
