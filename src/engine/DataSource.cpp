#include "engine/DataSource.h"

#include <algorithm>
#include <exception>

#include "engine/ResultSet.h"

namespace zeplo {

DataLink::~DataLink()
{
    setDataSource(nullptr);
}

void DataLink::setDataSource(DataSource *source)
{
    if (source_ == source)
        return;
    if (source_)
        source_->removeLink(this);
    source_ = source;
    if (source_)
        source_->addLink(this);
}

ResultSet *DataLink::dataSet() const
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

DataSource::DataSource(QObject *parent) : QObject(parent) {}

DataSource::~DataSource()
{
    setDataSet(nullptr);
    for (DataLink *link : std::vector<DataLink *>(links_))
        link->setDataSource(nullptr);
}

void DataSource::setDataSet(ResultSet *dataSet)
{
    if (dataSet_ == dataSet)
        return;
    if (dataSet_)
        dataSet_->removeDataSource(this);
    dataSet_ = dataSet;
    if (dataSet_)
        dataSet_->addDataSource(this);
}

void DataSource::edit()
{
    if (autoEdit_ && dataSet_ && dataSet_->state() == DataSetState::Browse)
        dataSet_->edit();
}

void DataSource::addLink(DataLink *link)
{
    links_.push_back(link);
    if (dataSet_)
        dataSet_->updateBufferCount();
}

void DataSource::removeLink(DataLink *link)
{
    links_.erase(std::remove(links_.begin(), links_.end(), link), links_.end());
}

void DataSource::notify(DataEvent event, Field *field)
{
    deliverToEach(links_, [&](DataLink *link) { link->dataEvent(event, field); });
}

} // namespace zeplo
