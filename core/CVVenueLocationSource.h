#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "Ambrell/CVLiveUpdate.h"
#include "Ambrell/CVLocationSource.h"
#include "Ambrell/CVUserRole.h"
#include "data/CVVenueHandler.h"
#include "foundation/CVWeakRef.h"
#include "platform/runtime/DispatchQueue.h"
#include "platform/runtime/Executor.h"

namespace ambrell {

class CVLocationDocuments;
class CVLocationInternal;
class CVVenueInternal;

// The locations of one venue of the solution: the venue's, its buildings'
// and floors' pseudo-locations, then the venue's locations of the
// solution's locations document. Observers are held weakly; a map control
// queues its registration on queue(). Observers are called from the task
// that changed the source, outside any lock, with a snapshot of the
// registrations. Made with std::make_shared: observers are told which
// source changed.
class CVVenueLocationSource : public CVLocationSource,
                              public CVVenueLocationSourcing,
                              public std::enable_shared_from_this<CVVenueLocationSource> {
public:
    CVVenueLocationSource(std::string solutionId, std::string venueId, std::string language,
                          std::vector<CVUserRole> userRoles);

    // Pseudo-locations first (which fills the readable-id index the parent
    // ids need), then the locations document of the locations sync URL of
    // the source's solution, language and roles: downloaded when changed
    // and put in place of the data set's file once it reads, else read from
    // that file, else from the host app's resources. Sets the locations and
    // status 4, then tells the observers the ids the earlier list had and
    // this one has not (when any), the whole list, and the status.
    //   Completes: on the caller's executor.
    //   Errors: CVError.dataUnavailable (10) when the venue is not in the
    //     venue cache, or no document can be had or read; the status is then
    //     2 and the earlier locations stay.
    //   Cancelling: CancellationError; the data set's file stays as it
    //     was, the source unchanged.
    platform::Awaitable<void> loadLocations() override;
    // Takes the roles and loads as above, so the observers hear of the ids
    // the new roles no longer show before the new list. Same completion,
    // errors and cancelling.
    platform::Awaitable<void> reloadWithUserRoles(std::vector<CVUserRole> userRoles);
    // Gives the live update to the location of its item id; when the
    // location takes it (it is not older than the one it holds of its
    // domain), logs it and tells the observers that location. No location of
    // that id: nothing.
    //   Completes: on the caller's executor. Errors: none.
    platform::Awaitable<void> notify(std::shared_ptr<const CVLiveUpdate> liveUpdate);
    // The documents of the load this source is part of: a document another
    // source of the load has read is taken from there, not downloaded, read
    // and parsed again, and one this source reads is left there. Held
    // weakly, so that it lives only as long as its load holds it; without
    // it every load reads the document itself.
    void shareDocuments(std::weak_ptr<CVLocationDocuments> documents);

    // "com.ambrell.CVVenueLocationSource": where observer registrations are
    // queued.
    [[nodiscard]] const platform::DispatchQueue& queue() const { return queue_; }
    [[nodiscard]] const std::string& venueId() const { return venueId_; }
    [[nodiscard]] const std::string& solutionId() const { return solutionId_; }
    [[nodiscard]] std::vector<CVUserRole> userRoles() const;

    [[nodiscard]] std::vector<std::shared_ptr<CVLocation>> getLocations() const override;
    [[nodiscard]] CVLocationSourceStatus getStatus() const override;
    void addLocationsObserver(const std::shared_ptr<CVLocationsObserver>& observer) override;
    void removeLocationsObserver(const std::shared_ptr<CVLocationsObserver>& observer) override;

private:
    using Locations = std::vector<std::shared_ptr<CVLocationInternal>>;

    // The venue's, its buildings' and floors' locations, registering their
    // readable ids.
    [[nodiscard]] Locations pseudoLocations(const CVVenueInternal& venue) const;
    // The venue's own locations of the document, with their types resolved.
    platform::Awaitable<Locations> documentLocations(std::string administrativeId) const;
    // The whole locations document of that URL: downloaded when changed and
    // put in place of the data set's file once it reads (a download that
    // does not read leaves that file as it was), else read from that file,
    // else from the app's resources. Errors: CVError.dataUnavailable when
    // none of them reads.
    platform::Awaitable<std::shared_ptr<const Locations>> readDocument(std::string url) const;
    void setStatus(CVLocationSourceStatus status);
    [[nodiscard]] std::vector<std::shared_ptr<CVLocationsObserver>> observers() const;

    const std::string solutionId_;
    const std::string venueId_;
    const std::string language_;
    platform::DispatchQueue queue_{"com.ambrell.CVVenueLocationSource"};

    mutable std::mutex mutex_;
    std::vector<CVUserRole> userRoles_;
    CVLocationSourceStatus status_ = CVLocationSourceStatus::initialising;
    Locations locations_;
    std::unordered_map<std::string, std::shared_ptr<CVLocationInternal>> locationsById_;
    std::vector<CVWeakRef<CVLocationsObserver>> observers_;
    std::weak_ptr<CVLocationDocuments> documents_;
};

}  // namespace ambrell
