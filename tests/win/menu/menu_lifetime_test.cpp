#include <windows.h>

#include "win/menu/menu_support.h"

namespace korvane::menu_test {
namespace {

TEST(MenuLifetime, UnloadOnlyAfterEveryObjectAndLockIsGone) {
    MenuDll dll;
    ASSERT_TRUE(dll.ready());
    ASSERT_EQ(dll.can_unload_now(), S_OK);

    // Each scenario takes objects and locks and gives them back in its own
    // order; after every step but the last something is still alive.
    enum Step { release_factory, release_init, release_menu, unlock };
    struct Row {
        const char* name;
        bool lock;
        std::vector<Step> steps;
    } rows[] = {
        {"factory, then handler", false, {release_factory, release_init, release_menu}},
        {"handler outlives its factory", false, {release_init, release_factory, release_menu}},
        {"menu interface last", false, {release_factory, release_menu, release_init}},
        {"lock outlives everything", true, {release_factory, release_init, release_menu, unlock}},
        {"lock released first", true, {unlock, release_menu, release_init, release_factory}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Com<IClassFactory> factory(dll.factory());
        ASSERT_TRUE(factory);
        EXPECT_EQ(dll.can_unload_now(), S_FALSE) << "a live factory";
        Com<IShellExtInit> init;
        ASSERT_EQ(factory->CreateInstance(nullptr, IID_IShellExtInit, init.out()), S_OK);
        Com<IContextMenu> menu;
        ASSERT_EQ(init->QueryInterface(IID_IContextMenu, menu.out()), S_OK);
        Com<IClassFactory> locker(dll.factory());
        if (row.lock) {
            EXPECT_EQ(locker->LockServer(TRUE), S_OK);
        }
        // The lock alone must hold the server, not the factory that took it.
        locker.reset();
        for (std::size_t i = 0; i < row.steps.size(); ++i) {
            EXPECT_EQ(dll.can_unload_now(), S_FALSE) << "before step " << i;
            switch (row.steps[i]) {
                case release_factory: factory.reset(); break;
                case release_init: init.reset(); break;
                case release_menu: menu.reset(); break;
                case unlock: {
                    Com<IClassFactory> other(dll.factory());
                    EXPECT_EQ(other->LockServer(FALSE), S_OK);
                    break;
                }
            }
        }
        EXPECT_EQ(dll.can_unload_now(), S_OK);
    }
}

TEST(MenuLifetime, ReferenceCountsAreExact) {
    MenuDll dll;
    ASSERT_TRUE(dll.ready());
    IClassFactory* factory = dll.factory();
    ASSERT_NE(factory, nullptr);
    EXPECT_EQ(factory->AddRef(), 2u);
    EXPECT_EQ(factory->Release(), 1u);

    IUnknown* unknown = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&unknown)),
              S_OK);
    IContextMenu* menu = nullptr;
    ASSERT_EQ(unknown->QueryInterface(IID_IContextMenu, reinterpret_cast<void**>(&menu)), S_OK);
    IShellExtInit* init = nullptr;
    ASSERT_EQ(menu->QueryInterface(IID_IShellExtInit, reinterpret_cast<void**>(&init)), S_OK);
    // One object: every interface reaches the same identity and count.
    IUnknown* identity = nullptr;
    ASSERT_EQ(init->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
    EXPECT_EQ(identity, unknown);
    EXPECT_EQ(identity->Release(), 3u);
    void* none = reinterpret_cast<void*>(1);
    EXPECT_EQ(menu->QueryInterface(IID_IDataObject, &none), E_NOINTERFACE);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(unknown->Release(), 2u);
    EXPECT_EQ(init->Release(), 1u);
    EXPECT_EQ(factory->Release(), 0u);
    EXPECT_EQ(dll.can_unload_now(), S_FALSE);
    EXPECT_EQ(menu->Release(), 0u);
    EXPECT_EQ(dll.can_unload_now(), S_OK);
}

// Failed requests must leave nothing alive behind them.
TEST(MenuLifetime, RefusedRequestsLeaveNothingAlive) {
    MenuDll dll;
    ASSERT_TRUE(dll.ready());
    const CLSID other = {0x4B7D2A10, 0x93E5, 0x4c1f, {0xA6, 0xB8, 0x0F, 0x3C, 0x5E, 0x71, 0xD2, 0x95}};
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(dll.get_class_object(other, IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(out, nullptr);
    out = reinterpret_cast<void*>(1);
    EXPECT_EQ(dll.get_class_object(handler_clsid(), IID_IContextMenu, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(dll.get_class_object(handler_clsid(), IID_IClassFactory, nullptr), E_POINTER);
    EXPECT_EQ(dll.can_unload_now(), S_OK);

    Com<IClassFactory> factory(dll.factory());
    DropData outer({});
    out = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory->CreateInstance(&outer, IID_IUnknown, &out), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IDataObject, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    // An unlock without a lock is refused and cannot cancel a real one.
    EXPECT_EQ(factory->LockServer(FALSE), E_UNEXPECTED);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    factory.reset();
    EXPECT_EQ(dll.can_unload_now(), S_FALSE);
    Com<IClassFactory> again(dll.factory());
    EXPECT_EQ(again->LockServer(FALSE), S_OK);
    EXPECT_EQ(again->LockServer(FALSE), E_UNEXPECTED);
    again.reset();
    EXPECT_EQ(dll.can_unload_now(), S_OK);
}

// The shell's pattern, many times over: load, query, invoke, release, unload.
TEST(MenuLifetime, ManyLoadQueryReleaseCyclesUnloadCleanly) {
    const std::wstring path = built_dll_path();
    for (int cycle = 0; cycle < 100; ++cycle) {
        SCOPED_TRACE(cycle);
        {
            MenuDll dll(path);
            ASSERT_TRUE(dll.ready());
            for (int round = 0; round < 5; ++round) {
                Selected handler(dll, {L"C:\\a.txt", L"C:\\b c"});
                ASSERT_EQ(handler.initialised, S_OK);
                Menu menu;
                EXPECT_EQ(handler.menu->QueryContextMenu(menu.handle, 0, 1, 5, CMF_NORMAL),
                          MAKE_HRESULT(SEVERITY_SUCCESS, FACILITY_NULL, 1));
                CMINVOKECOMMANDINFO info = invoke_info();
                info.lpVerb = MAKEINTRESOURCEA(0);
                EXPECT_EQ(handler.menu->InvokeCommand(&info), S_OK);
                EXPECT_EQ(dll.can_unload_now(), S_FALSE);
            }
            EXPECT_EQ(dll.recorder.lines.size(), 5u);
            ASSERT_EQ(dll.can_unload_now(), S_OK);
        }
        ASSERT_EQ(GetModuleHandleW(path.c_str()), nullptr) << "a reference to the DLL stayed";
    }
}

}  // namespace
}  // namespace korvane::menu_test
