// The four initialisation routes: stream, path, IPersistFile::Load and a
// data object with a drop list, and the refusal of a second initialisation.
#include <gtest/gtest.h>

#include <propsys.h>
#include <shobjidl.h>
#include <thumbcache.h>

#include "tests/handler/handler_test_support.h"
#include "tests/support/propsys_stand_in.h"

using namespace handler_test;

namespace {

const HRESULT ALREADY_INITIALIZED = HRESULT(0x800704DF);

class Initialization : public ::testing::Test {
protected:
    void SetUp() override
    {
        clear_options();
        delete_log();
        use_propsys_variant("full");
        handler = qb_create<IUnknown>();
        ASSERT_TRUE(handler);
        ASSERT_EQ(S_OK, handler.As(&with_stream));
        ASSERT_EQ(S_OK, handler.As(&with_file));
        ASSERT_EQ(S_OK, handler.As(&persist_file));
        ASSERT_EQ(S_OK, handler.As(&shell_ext));
        ASSERT_EQ(S_OK, handler.As(&extract));
    }
    void TearDown() override { clear_options(); }

    // The first book's path, as GetLocation reports it.
    std::wstring located_path()
    {
        wchar_t path[MAX_PATH] = L"untouched";
        DWORD flags = IEIFLAG_ORIGSIZE;
        DWORD priority = 0;
        const SIZE size = {32, 32};
        EXPECT_EQ(S_OK, extract->GetLocation(path, MAX_PATH, &priority, &size, 32, &flags));
        return path;
    }

    // Every route on an initialised handler refuses.
    void expect_every_route_refused()
    {
        const std::size_t books = handler_of(handler.Get())->books.size();
        const std::wstring other = book_path(L"wagahai.mobi");
        ComPtr<IStream> stream = file_stream(other);
        EXPECT_EQ(ALREADY_INITIALIZED, with_stream->Initialize(stream.Get(), STGM_READ));
        EXPECT_EQ(ALREADY_INITIALIZED, with_file->Initialize(other.c_str(), STGM_READ));
        EXPECT_EQ(ALREADY_INITIALIZED, persist_file->Load(other.c_str(), STGM_READ));
        ComPtr<DropData> data = DropData::drop_list({other});
        EXPECT_EQ(ALREADY_INITIALIZED, shell_ext->Initialize(nullptr, data.Get(), nullptr));
        EXPECT_EQ(0, data->outstanding_media());
        EXPECT_EQ(books, handler_of(handler.Get())->books.size());
    }

    ComPtr<IUnknown> handler;
    ComPtr<IInitializeWithStream> with_stream;
    ComPtr<IInitializeWithFile> with_file;
    ComPtr<IPersistFile> persist_file;
    ComPtr<IShellExtInit> shell_ext;
    ComPtr<IExtractImage> extract;
};

TEST_F(Initialization, StreamRouteRefusesOnlyExactReadWriteMode)
{
    ComPtr<IStream> stream = file_stream(book_path(L"cafe-noir.mobi"));
    ASSERT_TRUE(stream);
    EXPECT_EQ(STG_E_ACCESSDENIED, with_stream->Initialize(stream.Get(), STGM_READWRITE));
    EXPECT_EQ(0u, other_references(stream.Get()));
    EXPECT_EQ(S_OK, with_stream->Initialize(stream.Get(), STGM_READWRITE | STGM_SHARE_EXCLUSIVE));
    EXPECT_EQ(1u, other_references(stream.Get()));  // the book holds the stream
    EXPECT_EQ(L"", located_path());               // a stream book has no path
    expect_every_route_refused();

    handler.Reset(), with_stream.Reset(), with_file.Reset(), persist_file.Reset();
    shell_ext.Reset(), extract.Reset();
    EXPECT_EQ(0u, other_references(stream.Get()));
}

TEST_F(Initialization, StreamRouteAcceptsReadModeAndRefusesNull)
{
    EXPECT_EQ(E_INVALIDARG, with_stream->Initialize(nullptr, STGM_READ));
    ComPtr<IStream> stream = file_stream(book_path(L"cafe-noir.mobi"));
    EXPECT_EQ(S_OK, with_stream->Initialize(stream.Get(), STGM_READ));
    expect_every_route_refused();
}

TEST_F(Initialization, PathRouteKeepsThePathAndRefusesExactReadWrite)
{
    const std::wstring path = book_path(L"cafe-noir.mobi");
    EXPECT_EQ(STG_E_ACCESSDENIED, with_file->Initialize(path.c_str(), STGM_READWRITE));
    EXPECT_EQ(E_INVALIDARG, with_file->Initialize(nullptr, STGM_READ));
    EXPECT_EQ(S_OK, with_file->Initialize(path.c_str(), STGM_WRITE));
    EXPECT_EQ(path, located_path());
    expect_every_route_refused();
}

TEST_F(Initialization, LoadAcceptsReadWrite)
{
    const std::wstring path = book_path(L"small-cover.mobi");
    EXPECT_EQ(E_INVALIDARG, persist_file->Load(nullptr, STGM_READ));
    EXPECT_EQ(S_OK, persist_file->Load(path.c_str(), STGM_READWRITE));
    EXPECT_EQ(path, located_path());
    expect_every_route_refused();
}

TEST_F(Initialization, MissingFileInitialisesAndIsInvalidLater)
{
    const std::wstring path = scratch_folder() + L"\\absent.mobi";
    EXPECT_EQ(S_OK, with_file->Initialize(path.c_str(), STGM_READ));
    ComPtr<IThumbnailProvider> thumbnails;
    ASSERT_EQ(S_OK, handler.As(&thumbnails));
    HBITMAP bitmap = nullptr;
    WTS_ALPHATYPE alpha = WTSAT_ARGB;
    EXPECT_EQ(E_NOTIMPL, thumbnails->GetThumbnail(256, &bitmap, &alpha));
    EXPECT_EQ(nullptr, bitmap);
    ComPtr<IPropertyStore> store;
    ASSERT_EQ(S_OK, handler.As(&store));
    DWORD count = 7;
    EXPECT_EQ(E_FAIL, store->GetCount(&count));
    EXPECT_EQ(0u, count);
}

TEST_F(Initialization, DropListGivesOneBookPerFileInDropOrder)
{
    const std::vector<std::wstring> paths = {
        book_path(L"wagahai.mobi"), book_path(L"palmdoc.pdb"), scratch_folder() + L"\\x.mobi"};
    ComPtr<DropData> data = DropData::drop_list(paths);
    EXPECT_EQ(S_OK, shell_ext->Initialize(nullptr, data.Get(), nullptr));
    EXPECT_EQ(0, data->outstanding_media());  // the medium was released
    EXPECT_EQ(paths, book_paths(handler_of(handler.Get())));
    EXPECT_EQ(paths[0], located_path());
    expect_every_route_refused();
}

TEST_F(Initialization, DropListOfNoFilesFails)
{
    ComPtr<DropData> data = DropData::drop_list({});
    EXPECT_EQ(E_FAIL, shell_ext->Initialize(nullptr, data.Get(), nullptr));
    EXPECT_EQ(0, data->outstanding_media());
    // Still not initialised.
    EXPECT_EQ(S_OK, with_file->Initialize(book_path(L"cafe-noir.mobi").c_str(), STGM_READ));
}

TEST(InitializationLogged, DataObjectWithoutDropListGivesItsOwnStatusAndLogsIt)
{
    clear_options();
    delete_log();
    use_propsys_variant("full");
    set_option_dword(L"Debug", 1);
    ComPtr<IShellExtInit> handler = qb_create<IShellExtInit>();
    ASSERT_TRUE(handler);
    ComPtr<DropData> data = DropData::answering(DropData::Answer::NoDropList);
    EXPECT_EQ(DV_E_FORMATETC, handler->Initialize(nullptr, data.Get(), nullptr));
    const std::string tail = ":0x80040064";
    bool logged_failure = false;
    for (const std::string& line : log_messages())
        logged_failure |= line.rfind("ENSURE failed:initialize.cpp:", 0) == 0 &&
                          line.size() > tail.size() &&
                          line.compare(line.size() - tail.size(), tail.size(), tail) == 0;
    EXPECT_TRUE(logged_failure);
    EXPECT_EQ(E_INVALIDARG, handler->Initialize(nullptr, nullptr, nullptr));
    clear_options();
}

TEST_F(Initialization, DataObjectWithAnotherMediumFails)
{
    ComPtr<DropData> data = DropData::answering(DropData::Answer::StreamMedium);
    EXPECT_EQ(E_FAIL, shell_ext->Initialize(nullptr, data.Get(), nullptr));
    EXPECT_EQ(0, data->outstanding_media());
    EXPECT_TRUE(handler_of(handler.Get())->books.empty());
}

TEST_F(Initialization, CommitAllowsANewInitialisation)
{
    ASSERT_EQ(S_OK, with_file->Initialize(book_path(L"cafe-noir.mobi").c_str(), STGM_READ));
    ComPtr<IPropertyStore> store;
    ASSERT_EQ(S_OK, handler.As(&store));
    ASSERT_EQ(S_OK, store->Commit());
    EXPECT_TRUE(handler_of(handler.Get())->books.empty());

    const std::wstring next = book_path(L"small-cover.mobi");
    ComPtr<DropData> data = DropData::drop_list({next});
    EXPECT_EQ(S_OK, shell_ext->Initialize(nullptr, data.Get(), nullptr));
    EXPECT_EQ(next, located_path());
}

}  // namespace
