#include "catalogue/TDataSource.h"

#include <algorithm>
#include <exception>

#include "catalogue/TQuery.h"

namespace zeplo {

DataLink::~DataLink()
{
    setDataSource(nullptr);
}

void DataLink::setDataSource(TDataSource *source)
{
    if (source_ == source)
        return;
    if (source_)
        source_->removeLink(this);
    source_ = source;
    if (source_)
        source_->addLink(this);
}

TQuery *DataLink::dataSet() const
{
    return source_ ? source_->dataSet() : nullptr;
}

bool DataLink::active() const
{
    return dataSet() && dataSet()->active();
}

bool DataLink::editing() const
{
    return dataSet() && dataSet()->editing() && !linkReadOnly();
}

TDataSource::TDataSource(QObject *parent) : QObject(parent) {}

TDataSource::~TDataSource()
{
    setDataSet(nullptr);
    for (DataLink *link : std::vector<DataLink *>(links_))
        link->setDataSource(nullptr);
}

void TDataSource::setDataSet(TQuery *dataSet)
{
    if (dataSet_ == dataSet)
        return;
    if (dataSet_)
        dataSet_->removeDataSource(this);
    dataSet_ = dataSet;
    if (dataSet_)
        dataSet_->addDataSource(this);
}

void TDataSource::edit()
{
    if (AutoEdit && dataSet_ && dataSet_->state() == DataSetState::Browse)
        dataSet_->edit();
}

void TDataSource::addLink(DataLink *link)
{
    links_.push_back(link);
    if (dataSet_)
        dataSet_->updateBufferCount();
}

void TDataSource::removeLink(DataLink *link)
{
    links_.erase(std::remove(links_.begin(), links_.end(), link), links_.end());
}

void TDataSource::notify(DataEvent event, TField *field)
{
    deliverToEach(links_, [&](DataLink *link) { link->dataEvent(event, field); });
}

} // namespace zeplo
