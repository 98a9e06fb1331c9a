#include "sharing/services/notes/NoteServiceNoteStore.h"

namespace zv {

using namespace notes;

// The work of one wrapper: a new client, the token read on the queue's thread, then the call.
#define NC_INT(call, ...)                                                                                        \
  invokeAsyncInt32Block([=, s = session()] { return s->noteStore()->call(tokenOf(*s) __VA_OPT__(, ) __VA_ARGS__); }, \
                        std::move(success), std::move(failure))
#define NC_VOID(call, ...)                                                                                \
  invokeAsyncVoidBlock([=, s = session()] { s->noteStore()->call(tokenOf(*s) __VA_OPT__(, ) __VA_ARGS__); }, \
                       std::move(success), std::move(failure))
#define NC_VALUE(T, call, ...)                                                  \
  invokeAsyncIdBlock<T>(                                                        \
      [=, s = session()] {                                                      \
        T result;                                                               \
        s->noteStore()->call(result, tokenOf(*s) __VA_OPT__(, ) __VA_ARGS__);   \
        return result;                                                          \
      },                                                                        \
      std::move(success), std::move(failure))
#define NC_VALUE_NO_TOKEN(T, call, ...)           \
  invokeAsyncIdBlock<T>(                          \
      [=, s = session()] {                        \
        T result;                                 \
        s->noteStore()->call(result, __VA_ARGS__); \
        return result;                            \
      },                                          \
      std::move(success), std::move(failure))

Ref<NoteServiceNoteStore> NoteServiceNoteStore::noteStore() {
  return std::make_shared<NoteServiceNoteStore>(NoteServiceSession::sharedSession());
}

void NoteServiceNoteStore::updateNotebook(const Notebook& notebook, NCSuccess<std::int32_t> success,
                                          NCFailure failure) const {
  NC_INT(updateNotebook, notebook);
}
void NoteServiceNoteStore::expungeNotebookWithGuid(const Guid& guid, NCSuccess<std::int32_t> success,
                                                   NCFailure failure) const {
  NC_INT(expungeNotebook, guid);
}
void NoteServiceNoteStore::updateTag(const Tag& tag, NCSuccess<std::int32_t> success, NCFailure failure) const {
  NC_INT(updateTag, tag);
}
void NoteServiceNoteStore::expungeTagWithGuid(const Guid& guid, NCSuccess<std::int32_t> success,
                                              NCFailure failure) const {
  NC_INT(expungeTag, guid);
}
void NoteServiceNoteStore::updateSearch(const SavedSearch& search, NCSuccess<std::int32_t> success,
                                        NCFailure failure) const {
  NC_INT(updateSearch, search);
}
void NoteServiceNoteStore::expungeSearchWithGuid(const Guid& guid, NCSuccess<std::int32_t> success,
                                                 NCFailure failure) const {
  NC_INT(expungeSearch, guid);
}
void NoteServiceNoteStore::findNoteOffsetWithFilter(const NoteFilter& filter, const Guid& guid,
                                                    NCSuccess<std::int32_t> success, NCFailure failure) const {
  NC_INT(findNoteOffset, filter, guid);
}
void NoteServiceNoteStore::setNoteApplicationDataEntryWithGuid(const Guid& guid, const std::string& key,
                                                               const std::string& value,
                                                               NCSuccess<std::int32_t> success,
                                                               NCFailure failure) const {
  NC_INT(setNoteApplicationDataEntry, guid, key, value);
}
void NoteServiceNoteStore::unsetNoteApplicationDataEntryWithGuid(const Guid& guid, const std::string& key,
                                                                 NCSuccess<std::int32_t> success,
                                                                 NCFailure failure) const {
  NC_INT(unsetNoteApplicationDataEntry, guid, key);
}
void NoteServiceNoteStore::deleteNoteWithGuid(const Guid& guid, NCSuccess<std::int32_t> success,
                                              NCFailure failure) const {
  NC_INT(deleteNote, guid);
}
void NoteServiceNoteStore::expungeNoteWithGuid(const Guid& guid, NCSuccess<std::int32_t> success,
                                               NCFailure failure) const {
  NC_INT(expungeNote, guid);
}
void NoteServiceNoteStore::expungeNotesWithGuids(const std::vector<Guid>& guids, NCSuccess<std::int32_t> success,
                                                 NCFailure failure) const {
  NC_INT(expungeNotes, guids);
}
void NoteServiceNoteStore::expungeInactiveNoteWithSuccess(NCSuccess<std::int32_t> success, NCFailure failure) const {
  NC_INT(expungeInactiveNotes);
}
void NoteServiceNoteStore::setResourceApplicationDataEntryWithGuid(const Guid& guid, const std::string& key,
                                                                   const std::string& value,
                                                                   NCSuccess<std::int32_t> success,
                                                                   NCFailure failure) const {
  NC_INT(setResourceApplicationDataEntry, guid, key, value);
}
void NoteServiceNoteStore::unsetResourceApplicationDataEntryWithGuid(const Guid& guid, const std::string& key,
                                                                     NCSuccess<std::int32_t> success,
                                                                     NCFailure failure) const {
  NC_INT(unsetResourceApplicationDataEntry, guid, key);
}
void NoteServiceNoteStore::updateResource(const Resource& resource, NCSuccess<std::int32_t> success,
                                          NCFailure failure) const {
  NC_INT(updateResource, resource);
}
void NoteServiceNoteStore::sendMessageToSharedNotebookMembersWithGuid(const Guid& guid, const std::string& messageText,
                                                                      const std::vector<std::string>& recipients,
                                                                      NCSuccess<std::int32_t> success,
                                                                      NCFailure failure) const {
  NC_INT(sendMessageToSharedNotebookMembers, guid, messageText, recipients);
}
void NoteServiceNoteStore::expungeSharedNotebooksWithIds(const std::vector<std::int64_t>& ids,
                                                         NCSuccess<std::int32_t> success, NCFailure failure) const {
  NC_INT(expungeSharedNotebooks, ids);
}
void NoteServiceNoteStore::updateLinkedNotebook(const LinkedNotebook& linkedNotebook, NCSuccess<std::int32_t> success,
                                                NCFailure failure) const {
  NC_INT(updateLinkedNotebook, linkedNotebook);
}
void NoteServiceNoteStore::expungeLinkedNotebookWithGuid(const Guid& guid, NCSuccess<std::int32_t> success,
                                                         NCFailure failure) const {
  NC_INT(expungeLinkedNotebook, guid);
}

void NoteServiceNoteStore::untagAllWithGuid(const Guid& guid, NCVoidSuccess success, NCFailure failure) const {
  NC_VOID(untagAll, guid);
}
void NoteServiceNoteStore::emailNoteWithParameters(const NoteEmailParameters& parameters, NCVoidSuccess success,
                                                   NCFailure failure) const {
  NC_VOID(emailNote, parameters);
}
void NoteServiceNoteStore::stopSharingNoteWithGuid(const Guid& guid, NCVoidSuccess success, NCFailure failure) const {
  NC_VOID(stopSharingNote, guid);
}

void NoteServiceNoteStore::getSyncStateWithSuccess(NCSuccess<SyncState> success, NCFailure failure) const {
  NC_VALUE(SyncState, getSyncState);
}
void NoteServiceNoteStore::getSyncChunkAfterUSN(std::int32_t afterUSN, std::int32_t maxEntries, bool fullSyncOnly,
                                                NCSuccess<SyncChunk> success, NCFailure failure) const {
  NC_VALUE(SyncChunk, getSyncChunk, afterUSN, maxEntries, fullSyncOnly);
}
void NoteServiceNoteStore::getFilteredSyncChunkAfterUSN(std::int32_t afterUSN, std::int32_t maxEntries,
                                                        const SyncChunkFilter& filter, NCSuccess<SyncChunk> success,
                                                        NCFailure failure) const {
  NC_VALUE(SyncChunk, getFilteredSyncChunk, afterUSN, maxEntries, filter);
}
void NoteServiceNoteStore::getLinkedNotebookSyncState(const LinkedNotebook& linkedNotebook,
                                                      NCSuccess<SyncState> success, NCFailure failure) const {
  NC_VALUE(SyncState, getLinkedNotebookSyncState, linkedNotebook);
}
void NoteServiceNoteStore::getLinkedNotebookSyncChunk(const LinkedNotebook& linkedNotebook, std::int32_t afterUSN,
                                                      std::int32_t maxEntries, bool fullSyncOnly,
                                                      NCSuccess<SyncChunk> success, NCFailure failure) const {
  NC_VALUE(SyncChunk, getLinkedNotebookSyncChunk, linkedNotebook, afterUSN, maxEntries, fullSyncOnly);
}
void NoteServiceNoteStore::listNotebooksWithSuccess(NCSuccess<std::vector<Notebook>> success,
                                                    NCFailure failure) const {
  NC_VALUE(std::vector<Notebook>, listNotebooks);
}
void NoteServiceNoteStore::getNotebookWithGuid(const Guid& guid, NCSuccess<Notebook> success,
                                               NCFailure failure) const {
  NC_VALUE(Notebook, getNotebook, guid);
}
void NoteServiceNoteStore::getDefaultNotebookWithSuccess(NCSuccess<Notebook> success, NCFailure failure) const {
  NC_VALUE(Notebook, getDefaultNotebook);
}
void NoteServiceNoteStore::createNotebook(const Notebook& notebook, NCSuccess<Notebook> success,
                                          NCFailure failure) const {
  NC_VALUE(Notebook, createNotebook, notebook);
}
void NoteServiceNoteStore::listTagsWithSuccess(NCSuccess<std::vector<Tag>> success, NCFailure failure) const {
  NC_VALUE(std::vector<Tag>, listTags);
}
void NoteServiceNoteStore::listTagsByNotebookWithGuid(const Guid& guid, NCSuccess<std::vector<Tag>> success,
                                                      NCFailure failure) const {
  NC_VALUE(std::vector<Tag>, listTagsByNotebook, guid);
}
void NoteServiceNoteStore::getTagWithGuid(const Guid& guid, NCSuccess<Tag> success, NCFailure failure) const {
  NC_VALUE(Tag, getTag, guid);
}
void NoteServiceNoteStore::createTag(const Tag& tag, NCSuccess<Tag> success, NCFailure failure) const {
  NC_VALUE(Tag, createTag, tag);
}
void NoteServiceNoteStore::listSearchesWithSuccess(NCSuccess<std::vector<SavedSearch>> success,
                                                   NCFailure failure) const {
  NC_VALUE(std::vector<SavedSearch>, listSearches);
}
void NoteServiceNoteStore::getSearchWithGuid(const Guid& guid, NCSuccess<SavedSearch> success,
                                             NCFailure failure) const {
  NC_VALUE(SavedSearch, getSearch, guid);
}
void NoteServiceNoteStore::createSearch(const SavedSearch& search, NCSuccess<SavedSearch> success,
                                        NCFailure failure) const {
  NC_VALUE(SavedSearch, createSearch, search);
}
void NoteServiceNoteStore::findNotesWithFilter(const NoteFilter& filter, std::int32_t offset, std::int32_t maxNotes,
                                               NCSuccess<NoteList> success, NCFailure failure) const {
  NC_VALUE(NoteList, findNotes, filter, offset, maxNotes);
}
void NoteServiceNoteStore::findNotesMetadataWithFilter(const NoteFilter& filter, std::int32_t offset,
                                                       std::int32_t maxNotes,
                                                       const NotesMetadataResultSpec& resultSpec,
                                                       NCSuccess<NotesMetadataList> success,
                                                       NCFailure failure) const {
  NC_VALUE(NotesMetadataList, findNotesMetadata, filter, offset, maxNotes, resultSpec);
}
void NoteServiceNoteStore::findNoteCountsWithFilter(const NoteFilter& filter, bool withTrash,
                                                    NCSuccess<NoteCollectionCounts> success,
                                                    NCFailure failure) const {
  NC_VALUE(NoteCollectionCounts, findNoteCounts, filter, withTrash);
}
void NoteServiceNoteStore::getNoteWithGuid(const Guid& guid, bool withContent, bool withResourcesData,
                                           bool withResourcesRecognition, bool withResourcesAlternateData,
                                           NCSuccess<Note> success, NCFailure failure) const {
  NC_VALUE(Note, getNote, guid, withContent, withResourcesData, withResourcesRecognition, withResourcesAlternateData);
}
void NoteServiceNoteStore::getNoteApplicationDataWithGuid(const Guid& guid, NCSuccess<LazyMap> success,
                                                          NCFailure failure) const {
  NC_VALUE(LazyMap, getNoteApplicationData, guid);
}
void NoteServiceNoteStore::getNoteApplicationDataEntryWithGuid(const Guid& guid, const std::string& key,
                                                               NCSuccess<std::string> success,
                                                               NCFailure failure) const {
  NC_VALUE(std::string, getNoteApplicationDataEntry, guid, key);
}
void NoteServiceNoteStore::getNoteContentWithGuid(const Guid& guid, NCSuccess<std::string> success,
                                                  NCFailure failure) const {
  NC_VALUE(std::string, getNoteContent, guid);
}
void NoteServiceNoteStore::getNoteSearchTextWithGuid(const Guid& guid, bool noteOnly, bool tokenizeForIndexing,
                                                     NCSuccess<std::string> success, NCFailure failure) const {
  NC_VALUE(std::string, getNoteSearchText, guid, noteOnly, tokenizeForIndexing);
}
void NoteServiceNoteStore::getResourceSearchTextWithGuid(const Guid& guid, NCSuccess<std::string> success,
                                                         NCFailure failure) const {
  NC_VALUE(std::string, getResourceSearchText, guid);
}
void NoteServiceNoteStore::getNoteTagNamesWithGuid(const Guid& guid, NCSuccess<std::vector<std::string>> success,
                                                   NCFailure failure) const {
  NC_VALUE(std::vector<std::string>, getNoteTagNames, guid);
}
void NoteServiceNoteStore::createNote(const Note& note, NCSuccess<Note> success, NCFailure failure) const {
  NC_VALUE(Note, createNote, note);
}
void NoteServiceNoteStore::updateNote(const Note& note, NCSuccess<Note> success, NCFailure failure) const {
  NC_VALUE(Note, updateNote, note);
}
void NoteServiceNoteStore::copyNoteWithGuid(const Guid& guid, const Guid& toNotebookGuid, NCSuccess<Note> success,
                                            NCFailure failure) const {
  NC_VALUE(Note, copyNote, guid, toNotebookGuid);
}
void NoteServiceNoteStore::listNoteVersionsWithGuid(const Guid& guid, NCSuccess<std::vector<NoteVersionId>> success,
                                                    NCFailure failure) const {
  NC_VALUE(std::vector<NoteVersionId>, listNoteVersions, guid);
}
void NoteServiceNoteStore::getNoteVersionWithGuid(const Guid& guid, std::int32_t updateSequenceNum,
                                                  bool withResourcesData, bool withResourcesRecognition,
                                                  bool withResourcesAlternateData, NCSuccess<Note> success,
                                                  NCFailure failure) const {
  NC_VALUE(Note, getNoteVersion, guid, updateSequenceNum, withResourcesData, withResourcesRecognition,
           withResourcesAlternateData);
}
void NoteServiceNoteStore::getResourceWithGuid(const Guid& guid, bool withData, bool withRecognition,
                                               bool withAttributes, bool withAlternateData,
                                               NCSuccess<Resource> success, NCFailure failure) const {
  NC_VALUE(Resource, getResource, guid, withData, withRecognition, withAttributes, withAlternateData);
}
void NoteServiceNoteStore::getResourceApplicationDataWithGuid(const Guid& guid, NCSuccess<LazyMap> success,
                                                              NCFailure failure) const {
  NC_VALUE(LazyMap, getResourceApplicationData, guid);
}
void NoteServiceNoteStore::getResourceApplicationDataEntryWithGuid(const Guid& guid, const std::string& key,
                                                                   NCSuccess<std::string> success,
                                                                   NCFailure failure) const {
  NC_VALUE(std::string, getResourceApplicationDataEntry, guid, key);
}
void NoteServiceNoteStore::getResourceDataWithGuid(const Guid& guid, NCSuccess<std::string> success,
                                                   NCFailure failure) const {
  NC_VALUE(std::string, getResourceData, guid);
}
void NoteServiceNoteStore::getResourceByHashWithGuid(const Guid& guid, const std::string& contentHash, bool withData,
                                                     bool withRecognition, bool withAlternateData,
                                                     NCSuccess<Resource> success, NCFailure failure) const {
  NC_VALUE(Resource, getResourceByHash, guid, contentHash, withData, withRecognition, withAlternateData);
}
void NoteServiceNoteStore::getResourceRecognitionWithGuid(const Guid& guid, NCSuccess<std::string> success,
                                                          NCFailure failure) const {
  NC_VALUE(std::string, getResourceRecognition, guid);
}
void NoteServiceNoteStore::getResourceAlternateDataWithGuid(const Guid& guid, NCSuccess<std::string> success,
                                                            NCFailure failure) const {
  NC_VALUE(std::string, getResourceAlternateData, guid);
}
void NoteServiceNoteStore::getResourceAttributesWithGuid(const Guid& guid, NCSuccess<ResourceAttributes> success,
                                                         NCFailure failure) const {
  NC_VALUE(ResourceAttributes, getResourceAttributes, guid);
}
void NoteServiceNoteStore::getAdsWithParameters(const AdParameters& parameters, NCSuccess<std::vector<Ad>> success,
                                                NCFailure failure) const {
  NC_VALUE(std::vector<Ad>, getAds, parameters);
}
void NoteServiceNoteStore::getRandomAdWithParameters(const AdParameters& parameters, NCSuccess<Ad> success,
                                                     NCFailure failure) const {
  NC_VALUE(Ad, getRandomAd, parameters);
}
void NoteServiceNoteStore::getPublicNotebookWithUserID(std::int32_t userId, const std::string& publicUri,
                                                       NCSuccess<Notebook> success, NCFailure failure) const {
  NC_VALUE_NO_TOKEN(Notebook, getPublicNotebook, userId, publicUri);
}
void NoteServiceNoteStore::createSharedNotebook(const SharedNotebook& sharedNotebook,
                                                NCSuccess<SharedNotebook> success, NCFailure failure) const {
  NC_VALUE(SharedNotebook, createSharedNotebook, sharedNotebook);
}
void NoteServiceNoteStore::listSharedNotebooksWithSuccess(NCSuccess<std::vector<SharedNotebook>> success,
                                                          NCFailure failure) const {
  NC_VALUE(std::vector<SharedNotebook>, listSharedNotebooks);
}
void NoteServiceNoteStore::createLinkedNotebook(const LinkedNotebook& linkedNotebook,
                                                NCSuccess<LinkedNotebook> success, NCFailure failure) const {
  NC_VALUE(LinkedNotebook, createLinkedNotebook, linkedNotebook);
}
void NoteServiceNoteStore::listLinkedNotebooksWithSuccess(NCSuccess<std::vector<LinkedNotebook>> success,
                                                          NCFailure failure) const {
  NC_VALUE(std::vector<LinkedNotebook>, listLinkedNotebooks);
}
void NoteServiceNoteStore::authenticateToSharedNotebookWithShareKey(const std::string& shareKey,
                                                                    NCSuccess<AuthenticationResult> success,
                                                                    NCFailure failure) const {
  invokeAsyncIdBlock<AuthenticationResult>(
      [=, s = session()] {
        AuthenticationResult result;
        s->noteStore()->authenticateToSharedNotebook(result, shareKey, tokenOf(*s));
        return result;
      },
      std::move(success), std::move(failure));
}
void NoteServiceNoteStore::getSharedNotebookByAuthWithSuccess(NCSuccess<SharedNotebook> success,
                                                              NCFailure failure) const {
  NC_VALUE(SharedNotebook, getSharedNotebookByAuth);
}
void NoteServiceNoteStore::shareNoteWithGuid(const Guid& guid, NCSuccess<std::string> success,
                                             NCFailure failure) const {
  NC_VALUE(std::string, shareNote, guid);
}
void NoteServiceNoteStore::authenticateToSharedNoteWithGuid(const Guid& guid, const std::string& noteKey,
                                                            NCSuccess<AuthenticationResult> success,
                                                            NCFailure failure) const {
  NC_VALUE_NO_TOKEN(AuthenticationResult, authenticateToSharedNote, guid, noteKey);
}

}  // namespace zv
