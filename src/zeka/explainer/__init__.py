"""Model explanations with SHAP values."""
