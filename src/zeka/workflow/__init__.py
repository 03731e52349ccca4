"""Model-training workflow: pipelines and the workbench that trains and ranks them."""
